// Two link monitors beside the packet pane, all capturing lo, while two UDP links between local
// sockets carry traffic at a steady total rate: for each capture the kernel's received and
// dropped counts, and for each link monitor the packets it kept (its log's records) against the
// packets of its link that were sent. Needs root; traffic stays on 127.0.0.1.
//
//   build-rel/bench/LinkMonitorLiveBench [--seconds=10] [--rate=20000] [--payload=64]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "UdpRateSender.h"
#include "controls/link/IpMon.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"
#include "wincap/PacketLogFile.h"

namespace {

namespace fs = std::filesystem;

long Option(int argc, char** argv, const char* name, long fallback) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return std::atol(argv[i] + prefix.size());
  return fallback;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A UDP socket on 127.0.0.1 with an ephemeral port.
struct Udp {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  int port = 0;
  Udp() {
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~Udp() { close(fd); }
};

long Records(const std::string& path) {
  PacketLogFile file;
  if (!file.OpenReadOnly(path)) return -1;
  long count = 0;
  _LogRecMarker header;
  while (file.ReadNextHeader(&header) == 1) ++count;
  return count;
}

std::string Load() {
  double averages[3] = {0, 0, 0};
  if (getloadavg(averages, 3) < 3) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", averages[0], averages[1], averages[2]);
  return text;
}

template <typename Condition>
void WaitUntil(Condition condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = static_cast<int>(Option(argc, argv, "seconds", 10));
  const long rate = Option(argc, argv, "rate", 20000);
  const int payload = static_cast<int>(Option(argc, argv, "payload", 64));
  if (geteuid() != 0) {
    std::printf("LinkMonitorLiveBench needs root (capture on lo)\n");
    return 0;
  }
  const std::string folder = fs::temp_directory_path() / ("pelorin-link-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  setenv("PELORIN_REGISTRY", (folder + "/registry.reg").c_str(), 1);
  UiPump::Instance().AttachToCurrentThread();
  AppProfile app;
  app.WriteProfileInt("", "AdapterCurr", 0);
  app.WriteProfileString("", "AdapterCurrName", "lo");
  app.WriteProfileString("", "IpMonLogCurrent", folder + "/PelorinProLogPkt.rec");
  app.WriteProfileString("", "ConnectionsLinkLogs", folder + "/ConnLogs/");
  app.WriteProfileInt("", "LogPageSize", 10000);

  Udp fromA, toA, fromB, toB;
  const auto linkOf = [](const Udp& from, const Udp& to) {
    _MonListMonItemDataIp link{};
    link.localAddr = link.remoteAddr = htonl(INADDR_LOOPBACK);
    link.localPort = static_cast<std::uint32_t>(from.port);
    link.remotePort = static_cast<std::uint32_t>(to.port);
    return link;
  };
  MonListIpMon pane(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
  IpMon linkA(&app, linkOf(fromA, toA), "UDP"), linkB(&app, linkOf(fromB, toB), "UDP");
  MonListIpMon* lists[] = {&pane, &linkA, &linkB};
  for (MonListIpMon* list : lists) {
    if (list->MonListCreate(nullptr, 1028, Rect{0, 0, 600, 300}) != 0) return 1;
    MonListIpMonCWinThread* thread = list->GetCaptureThread();
    WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
    list->ListStart();
    if (!thread->GetIdleMessage()) {
      std::printf("capture on lo did not start\n");
      return 1;
    }
  }

  const auto send = [&](const Udp& from, const Udp& to, long* sent) {
    const sockaddr_in address = Loopback(to.port);
    connect(from.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    *sent = SendUdpAtRate(from.fd, rate / 2, payload, seconds);
  };
  // The receivers drain their sockets so the links stay as they would between programs.
  std::atomic<bool> sending{true};
  const auto drain = [&sending](const Udp& to) {
    char buffer[2048];
    while (sending.load())
      if (recv(to.fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) usleep(200);
  };
  long sentA = 0, sentB = 0;
  const std::string loadBefore = Load();
  {
    std::thread drainA(drain, std::cref(toA)), drainB(drain, std::cref(toB));
    std::thread senderA(send, std::cref(fromA), std::cref(toA), &sentA);
    std::thread senderB(send, std::cref(fromB), std::cref(toB), &sentB);
    senderA.join();
    senderB.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the captures catch up
    sending.store(false);
    drainA.join();
    drainB.join();
  }
  const std::string loadAfter = Load();
  for (MonListIpMon* list : lists) list->ListStop();

  std::printf("LinkMonitorLiveBench: %d s, %ld packets/s in total over two UDP links, %d-byte payloads\n", seconds,
              rate, payload);
  std::printf("load average before %s, after %s\n", loadBefore.c_str(), loadAfter.c_str());
  const char* names[] = {"packet pane", "link monitor A", "link monitor B"};
  const long sent[] = {sentA + sentB, sentA, sentB};
  for (int i = 0; i < 3; ++i) {
    std::uint32_t received = 0, dropped = 0;
    lists[i]->GetCaptureThread()->GetCaptureStats(&received, &dropped);
    const long kept = Records(lists[i]->GetCaptureThread()->LogGet());
    std::printf("%-15s kernel received %10u dropped %8u  logged %10ld  sent on %s %10ld\n", names[i], received,
                dropped, kept, i == 0 ? "both links" : "its link", sent[i]);
  }
  for (MonListIpMon* list : lists) list->ProcessClose();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
