// Live capture at rising rates: a sender of this program's own (sendmmsg, UDP with 64-byte and
// 1,400-byte payloads) sends through a veth pair from one network namespace into another, where
// the packet pane captures the receiving end, logging every packet to disk, and `tcpdump -w`
// captures the same interface in the same run. Both namespaces are made here under names with
// this process's id and removed at the end; nothing of the machine's own network is touched.
// The pane captures as an installed window does: without CAP_NET_RAW of its own, through the
// packet socket PelorinCaptureHelper (beside this program) opens for it.
//
// For each payload size and rate (packets/s; 0 = as fast as the sender can): packets sent, and
// for the pane and for tcpdump what the kernel delivered, what it dropped and what was written
// (the pane's log records, tcpdump's "packets captured"), with the load average beside them.
// The status bar's line is made from the pane's counts four times a second, as the main frame
// does, and its last text is printed after each run.
//
// With --file-mb=N the pane's log rolls over into a numbered set of files of N MB and tcpdump
// writes with -C N; with --ring-files=K as well both keep only the newest K files (tcpdump -W K),
// so a long run fits the disk.
// Needs root.
//
//   build-rel/bin/CaptureLiveDropsBench [--seconds=10] [--rates=50000,200000,500000,0] [--sizes=64,1400]
//       [--file-mb=N [--ring-files=K]] [--buffer-kb=KB]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "UdpRateSender.h"
#include "controls/packets/CaptureStatusLine.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
#include "tests/RawCapabilityScope.h"
#include "ui/UiPump.h"
#include "wincap/PacketLogFile.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kCaptureAddress[] = "10.251.0.1";
constexpr char kSenderAddress[] = "10.251.0.2";
constexpr char kCaptureMac[] = "02:00:00:00:00:01";
constexpr int kSinkPort = 9;
constexpr int kHeaders = 14 + 20 + 8;  // Ethernet, IPv4, UDP bytes before the payload

template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// The number before a phrase in tcpdump's closing lines ("123 packets dropped by kernel").
long CountBefore(const std::string& text, const std::string& phrase) {
  const std::size_t at = text.find(phrase);
  if (at == std::string::npos) return -1;
  std::size_t start = text.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return std::atol(text.c_str() + start);
}

std::vector<long> Numbers(const char* list) {
  std::vector<long> numbers;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) numbers.push_back(std::atol(item.c_str()));
  return numbers;
}

// --- the sender (a second run of this program inside the sender's namespace) ---

// Sends payload-byte datagrams to address:port at rate a second (0: without pause) for the given
// seconds, in batches of sendmmsg; prints the number sent.
int RunSender(long rate, int payload, int seconds, const char* address, int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, address, &to.sin_addr);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 1;
  const long sent = SendUdpAtRate(fd, rate, payload, seconds);
  std::printf("%ld\n", sent);
  close(fd);
  return 0;
}

// --- the bench's network ---

// Two namespaces joined by a veth pair: the capture end (with a fixed MAC the sender's side
// knows, so no ARP joins the traffic) and the sender's end. IPv6 is off in both, so no router
// solicitations either.
class BenchNet {
 public:
  BenchNet() {
    const std::string id = std::to_string(getpid());
    m_capture = "pelorin-cap-" + id;
    m_sender = "pelorin-snd-" + id;
    m_captureLink = "pelcap" + std::to_string(getpid() % 100000);
    m_senderLink = "pelsnd" + std::to_string(getpid() % 100000);
    const std::string c = "ip -n " + m_capture + " ", s = "ip -n " + m_sender + " ";
    const char* noIpv6 = " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1";
    m_up = Shell("ip netns add " + m_capture) && Shell("ip netns add " + m_sender) &&
           Shell("ip netns exec " + m_capture + noIpv6) && Shell("ip netns exec " + m_sender + noIpv6) &&
           Shell(c + "link add " + m_captureLink + " type veth peer name " + m_senderLink + " netns " + m_sender) &&
           Shell(c + "link set " + m_captureLink + " address " + kCaptureMac) &&
           Shell(c + "addr add " + kCaptureAddress + "/30 dev " + m_captureLink) &&
           Shell(c + "link set " + m_captureLink + " up") &&
           Shell(s + "addr add " + kSenderAddress + "/30 dev " + m_senderLink) &&
           Shell(s + "link set " + m_senderLink + " up") &&
           Shell(s + "neigh replace " + kCaptureAddress + " lladdr " + kCaptureMac + " dev " + m_senderLink +
                 " nud permanent");
  }
  ~BenchNet() {
    Shell("ip netns del " + m_sender);
    Shell("ip netns del " + m_capture);
  }
  BenchNet(const BenchNet&) = delete;
  BenchNet& operator=(const BenchNet&) = delete;

  bool Up() const { return m_up; }
  const std::string& Capture() const { return m_capture; }
  const std::string& Sender() const { return m_sender; }
  const std::string& CaptureLink() const { return m_captureLink; }

 private:
  bool m_up = false;
  std::string m_capture, m_sender, m_captureLink, m_senderLink;
};

// Runs the calling thread (and the threads it starts from then on) in a namespace until it goes.
class InNamespace {
 public:
  explicit InNamespace(const std::string& name) {
    m_home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    m_entered = m_home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
  }
  ~InNamespace() {
    if (m_entered) setns(m_home, CLONE_NEWNET);
    if (m_home >= 0) close(m_home);
  }
  bool Entered() const { return m_entered; }

 private:
  int m_home = -1;
  bool m_entered = false;
};

// A child process with its output in a file; stopped with SIGINT like a user stops tcpdump.
class Child {
 public:
  bool Start(std::vector<std::string> args, const std::string& output, const std::string& messages) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
  }
  void Interrupt() {
    if (m_pid > 0) kill(m_pid, SIGINT);
  }
  int Wait() {
    int status = 0;
    if (m_pid > 0) waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
  }
  ~Child() {
    Interrupt();
    Wait();
  }

 private:
  pid_t m_pid = -1;
};

// How the pane's log and tcpdump's file are split; fileMB 0: one file each. bufferKB: the
// pane's kernel ring ("CaptureBufferKB"; 0: its default).
struct LogSplit {
  int fileMB = 0;
  int ringFiles = 0;
  int bufferKB = 0;
};

// Makes the status bar's line from the pane's counts four times a second while it lives.
class StatusSampler {
 public:
  explicit StatusSampler(const MonListIpMonCWinThread* thread)
      : m_worker([this, thread](std::stop_token stop) {
          while (!stop.stop_requested()) {
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
            std::string text = m_line.Update(thread->GetCaptureCounts(), now.count());
            {
              std::lock_guard<std::mutex> lock(m_lock);
              m_text = std::move(text);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
          }
        }) {}
  std::string Text() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
  }

 private:
  CaptureStatusLine m_line;
  std::mutex m_lock;
  std::string m_text;
  std::jthread m_worker;  // last: stopped and joined before the members it reads go
};

struct Result {
  long sent = 0;
  std::uint32_t oursReceived = 0, oursDropped = 0;
  std::uint64_t oursLogged = 0, oursLogFiles = 0;
  std::string statusText;
  long tcpdumpReceived = -1, tcpdumpDropped = -1, tcpdumpCaptured = -1;
  double seconds = 0, load = 0;
};

// Removes the files of the folder whose names start with prefix.
void RemoveFiles(const std::string& folder, const std::string& prefix) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) fs::remove(entry.path());
}

Result RunOnce(const BenchNet& net, const std::string& folder, const std::string& self, long rate, int payload,
               int seconds, const LogSplit& split) {
  Result result;
  const std::string logPath = folder + "/PelorinProLogPkt.rec";
  RemoveFiles(folder, "PelorinProLogPkt");
  AppProfile app;
  app.WriteProfileInt("", "LogPktFileBytes", split.fileMB << 20);
  app.WriteProfileInt("", "LogPktRingFiles", split.ringFiles);
  if (split.bufferKB > 0) app.WriteProfileInt("", "CaptureBufferKB", split.bufferKB);
  app.WriteProfileString("", "IpMonLogCurrent", logPath);
  app.WriteProfileInt("", "LogPageSize", 10000);
  app.WriteProfileInt("", "LogIpMon", 1);
  app.WriteProfileInt("", "AdapterCurr", 0);
  app.WriteProfileString("", "AdapterCurrName", net.CaptureLink());
  app.WriteProfileString("", "AdapterCurrDesc", "bench veth");

  MonListIpMon pane(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
  if (pane.MonListCreate(nullptr, 1024, Rect{0, 0, 800, 400}) != 0) return result;
  MonListIpMonCWinThread* thread = pane.GetCaptureThread();
  WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
  pane.ListStart();
  if (!thread->GetIdleMessage()) {
    std::fprintf(stderr, "the pane did not start capturing on %s\n", net.CaptureLink().c_str());
    return result;
  }
  StatusSampler status(thread);
  Child tcpdump;
  const std::string tcpdumpText = folder + "/tcpdump.txt";
  std::vector<std::string> tcpdumpArgs = {"ip", "netns", "exec", net.Capture(), "tcpdump", "-i", net.CaptureLink(),
                                          "-Z", "root", "-w", folder + "/tcpdump.pcap"};
  if (split.fileMB > 0) {
    // tcpdump's -C counts millions of bytes, the pane's bound MiB: the same files in number.
    tcpdumpArgs.insert(tcpdumpArgs.end(), {"-C", std::to_string((split.fileMB * 1048576L) / 1000000)});
    if (split.ringFiles > 0) tcpdumpArgs.insert(tcpdumpArgs.end(), {"-W", std::to_string(split.ringFiles)});
  }
  tcpdump.Start(tcpdumpArgs, "/dev/null", tcpdumpText);
  if (!WaitUntil([&] { return ReadText(tcpdumpText).find("listening on") != std::string::npos; }, 5000)) {
    std::fprintf(stderr, "tcpdump did not start\n");
    return result;
  }

  Child sender;
  const std::string sent = folder + "/sent.txt";
  const auto start = Clock::now();
  sender.Start({"ip", "netns", "exec", net.Sender(), self,
                "--send=" + std::to_string(rate) + "," + std::to_string(payload) + "," + std::to_string(seconds) +
                    "," + kCaptureAddress + "," + std::to_string(kSinkPort)},
               sent, folder + "/sender.txt");
  sender.Wait();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  double loads[1] = {0};
  getloadavg(loads, 1);
  result.load = loads[0];
  result.sent = std::atol(ReadText(sent).c_str());

  // Both readers empty what the kernel holds for them, then stop.
  std::uint64_t rows = 0;
  WaitUntil([&] {
    const std::uint64_t now = thread->GetRowsAdded();
    const bool still = now == rows;
    rows = now;
    return still;
  }, 5000);
  // tcpdump reads with its default timeout of 1 s: its last block of frames is handed over by
  // then.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  pane.ListStop();
  tcpdump.Interrupt();
  tcpdump.Wait();
  const std::string closing = ReadText(tcpdumpText);
  thread->GetCaptureStats(&result.oursReceived, &result.oursDropped);
  // Every frame is the same size, so the set's length counts its records.
  std::uintmax_t logBytes = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("PelorinProLogPkt", 0) != 0) continue;
    logBytes += entry.file_size();
    ++result.oursLogFiles;
  }
  result.oursLogged = logBytes / static_cast<std::uintmax_t>(PacketLogFile::kHeaderLength + kHeaders + payload);
  // A ring removes its oldest files: the pane's own count of records logged says what was written.
  if (split.ringFiles > 0) result.oursLogged = thread->GetCaptureCounts().logged;
  result.statusText = status.Text();
  result.tcpdumpReceived = CountBefore(closing, " packets received by filter");
  result.tcpdumpDropped = CountBefore(closing, " packets dropped by kernel");
  result.tcpdumpCaptured = CountBefore(closing, " packets captured");
  pane.ProcessClose();
  UiPump::Instance().PumpPending();
  RemoveFiles(folder, "PelorinProLogPkt");
  RemoveFiles(folder, "tcpdump.pcap");
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  std::vector<long> rates = {50000, 200000, 500000, 0};
  std::vector<long> sizes = {64, 1400};
  LogSplit split;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--send=", 7) == 0) {
      long rate = 0;
      int payload = 0, time = 0, port = 0;
      char address[32] = {};
      if (std::sscanf(argv[i] + 7, "%ld,%d,%d,%31[^,],%d", &rate, &payload, &time, address, &port) != 5) return 2;
      return RunSender(rate, payload, time, address, port);
    }
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atoi(argv[i] + 10);
    if (std::strncmp(argv[i], "--rates=", 8) == 0) rates = Numbers(argv[i] + 8);
    if (std::strncmp(argv[i], "--sizes=", 8) == 0) sizes = Numbers(argv[i] + 8);
    if (std::strncmp(argv[i], "--file-mb=", 10) == 0) split.fileMB = std::atoi(argv[i] + 10);
    if (std::strncmp(argv[i], "--ring-files=", 13) == 0) split.ringFiles = std::atoi(argv[i] + 13);
    if (std::strncmp(argv[i], "--buffer-kb=", 12) == 0) split.bufferKB = std::atoi(argv[i] + 12);
  }
  if (geteuid() != 0) {
    std::fprintf(stderr, "live capture needs root\n");
    return 1;
  }
  std::string pattern = "/tmp/pelorin-live-XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  const std::string folder = pattern;
  setenv("PELORIN_REGISTRY", (folder + "/registry.reg").c_str(), 1);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  UiPump::Instance().AttachToCurrentThread();
  int status = 0;
  {
    BenchNet net;
    InNamespace inside(net.Capture());
    if (!net.Up() || !inside.Entered()) {
      std::fprintf(stderr, "cannot make the bench's namespaces and veth pair\n");
      status = 1;
    } else {
      // The receiving end takes the datagrams and never reads them, so no port-unreachable
      // answers join the traffic.
      const int sink = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(kSinkPort);
      inet_pton(AF_INET, kCaptureAddress, &address.sin_addr);
      bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address);
      // The pane's thread is born without CAP_NET_RAW; tcpdump and the helper, started by root, have it.
      RawCapabilityScope unprivileged;
      std::printf("%d s per run; pane: packet pane logging to disk, %s; tcpdump: tcpdump -w (its defaults)\n",
                  seconds, unprivileged.Lowered() ? "capturing through PelorinCaptureHelper" : "own socket");
      if (split.fileMB > 0)
        std::printf("log set of %d MiB files, ring of %d files (0: all kept); tcpdump -C %ld%s\n", split.fileMB,
                    split.ringFiles, (split.fileMB * 1048576L) / 1000000,
                    split.ringFiles > 0 ? (" -W " + std::to_string(split.ringFiles)).c_str() : "");
      std::printf("%7s %8s %10s %9s | %10s %9s %10s | %10s %9s %10s | %5s\n", "payload", "rate/s", "sent",
                  "sent/s", "pane recv", "drops", "logged", "tcpd recv", "drops", "captured", "load");
      for (const long size : sizes) {
        for (const long rate : rates) {
          const Result r = RunOnce(net, folder, self, rate, static_cast<int>(size), seconds, split);
          std::printf("%7ld %8s %10ld %9.0f | %10u %9u %10llu | %10ld %9ld %10ld | %5.2f\n", size,
                      rate > 0 ? std::to_string(rate).c_str() : "max", r.sent,
                      r.seconds > 0 ? static_cast<double>(r.sent) / r.seconds : 0.0, r.oursReceived, r.oursDropped,
                      static_cast<unsigned long long>(r.oursLogged), r.tcpdumpReceived, r.tcpdumpDropped,
                      r.tcpdumpCaptured, r.load);
          std::printf("        status bar: %s; files kept: %llu\n", r.statusText.c_str(),
                      static_cast<unsigned long long>(r.oursLogFiles));
          std::fflush(stdout);
        }
      }
      close(sink);
    }
  }
  fs::remove_all(folder);
  return status;
}
