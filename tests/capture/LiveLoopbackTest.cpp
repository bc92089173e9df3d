// Live capture on the loopback interface through the packet pane, with real UDP, TCP and ICMP
// traffic, checked against an independent capture of the same interface. Needs root.
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "CaptureTestSupport.h"
#include "controls/packets/PacketFilterStore.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;
using Clock = std::chrono::steady_clock;

namespace {

// A second, independent view of lo: libpcap in immediate mode, drained after the traffic.
class ReferenceCapture {
 public:
  ReferenceCapture() {
    char error[PCAP_ERRBUF_SIZE];
    m_handle = pcap_create("lo", error);
    if (!m_handle) return;
    pcap_set_snaplen(m_handle, 65536);
    pcap_set_immediate_mode(m_handle, 1);
    pcap_set_buffer_size(m_handle, 8 << 20);
    if (pcap_activate(m_handle) < 0 || pcap_setnonblock(m_handle, 1, error) != 0) {
      pcap_close(m_handle);
      m_handle = nullptr;
    }
  }
  ~ReferenceCapture() {
    if (m_handle) pcap_close(m_handle);
  }
  bool Ok() const { return m_handle != nullptr; }
  std::vector<std::vector<std::uint8_t>> Drain() {
    std::vector<std::vector<std::uint8_t>> frames;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(m_handle, &header, &data) == 1) frames.emplace_back(data, data + header->caplen);
    return frames;
  }

 private:
  pcap_t* m_handle = nullptr;
};

sockaddr_in Loopback(int port = 0) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A UDP socket bound to an ephemeral port on 127.0.0.1.
struct UdpEnd {
  int fd = -1;
  int port = 0;
  UdpEnd() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback();
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~UdpEnd() { close(fd); }
  bool SendTo(int toPort, const std::string& text) const {
    const sockaddr_in to = Loopback(toPort);
    return sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(text.size());
  }
};

std::vector<std::uint8_t> RecordAt(const std::string& log, LONG position) {
  PacketLogFile file;
  std::vector<std::uint8_t> data(0xFFFF);
  if (!file.OpenReadOnly(log)) return {};
  const LONG read = file.Read(position, data.data(), 0xFFFF, nullptr, nullptr, nullptr);
  if (read < 1) return {};
  data.resize(static_cast<std::size_t>(read));
  return data;
}

bool Holds(const std::vector<std::uint8_t>& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

}  // namespace

TEST(LiveLoopback, RealUdpTcpAndIcmpGiveRowsAndByteExactRecords) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  env.UseAdapter(0, "lo");
  ReferenceCapture reference;
  ASSERT_TRUE(reference.Ok());
  auto pane = MakePane(env.App());
  ASSERT_NE(pane, nullptr);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  pane->ListStart();
  ASSERT_TRUE(thread->GetIdleMessage());

  const std::string tag = "pelorin-pane-" + std::to_string(getpid());
  UdpEnd udpIn, udpOut;
  ASSERT_TRUE(udpOut.SendTo(udpIn.port, tag + "-udp"));

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in tcpAddress = Loopback();
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&tcpAddress), sizeof tcpAddress), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t length = sizeof tcpAddress;
  getsockname(listener, reinterpret_cast<sockaddr*>(&tcpAddress), &length);
  const int tcpPort = ntohs(tcpAddress.sin_port);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&tcpAddress), sizeof tcpAddress), 0);
  const int server = accept(listener, nullptr, nullptr);
  const std::string tcpText = tag + "-tcp";
  ASSERT_EQ(send(client, tcpText.data(), tcpText.size(), 0), static_cast<ssize_t>(tcpText.size()));

  const int icmp = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  ASSERT_GE(icmp, 0);
  const std::string icmpText = tag + "-icmp";
  std::string echo(8 + icmpText.size(), '\0');
  echo[0] = 8;  // echo request
  std::memcpy(echo.data() + 8, icmpText.data(), icmpText.size());
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < echo.size(); i += 2)
    sum += static_cast<std::uint8_t>(echo[i]) << 8 | static_cast<std::uint8_t>(echo[i + 1]);
  if (echo.size() % 2) sum += static_cast<std::uint8_t>(echo.back()) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  const std::uint16_t checksum = static_cast<std::uint16_t>(~sum);
  echo[2] = static_cast<char>(checksum >> 8);
  echo[3] = static_cast<char>(checksum & 0xFF);
  const sockaddr_in to = Loopback();
  ASSERT_GT(sendto(icmp, echo.data(), echo.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);

  // Wait for our rows: the UDP datagram, the TCP data segment, the echo request and its reply.
  const std::string udpPort = std::to_string(udpIn.port);
  const std::string tcpPortText = std::to_string(tcpPort);
  auto ours = [&](const Row& row) {
    return row.texts[5] == udpPort || row.texts[3] == tcpPortText || row.texts[5] == tcpPortText ||
           row.texts[0] == "ICMP";
  };
  auto count = [&](const std::string& type, const std::string& text) {
    int n = 0;
    for (const Row& row : Rows(*pane))
      if (ours(row) && row.texts[0] == type && Holds(RecordAt(env.LogPath(), row.item.recordPosition), text)) ++n;
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] {
    std::lock_guard<PacketLogLock> flushed(thread->GetLogLock());
    return count("UDP", tag + "-udp") == 1 && count("TCP", tcpText) == 1 && count("ICMP", icmpText) >= 2;
  }, 5000));
  pane->ListStop();
  EXPECT_FALSE(thread->GetIdleMessage());
  close(client);
  close(server);
  close(listener);
  close(icmp);

  const auto wire = reference.Drain();
  int checked = 0;
  for (const Row& row : Rows(*pane)) {
    if (!ours(row)) continue;
    SCOPED_TRACE(row.texts[0] + " " + row.texts[3] + " -> " + row.texts[5]);
    const auto record = RecordAt(env.LogPath(), row.item.recordPosition);
    ASSERT_FALSE(record.empty());
    if (row.texts[0] == "ICMP" && !Holds(record, icmpText)) continue;  // someone else's
    // Byte for byte what the wire carried.
    EXPECT_NE(std::find(wire.begin(), wire.end(), record), wire.end());
    const DecodedPacket d = DecodeFrame(record.data(), static_cast<std::uint32_t>(record.size()), 14);
    EXPECT_EQ(row.texts[0], d.typeText);
    EXPECT_EQ(row.texts[1], std::to_string(record.size() - 14));  // lo adds no padding
    EXPECT_EQ(row.texts[2], "127.0.0.1");
    EXPECT_EQ(row.texts[4], "127.0.0.1");
    EXPECT_EQ(row.texts[7], "Ok");
    EXPECT_EQ(row.item.typeCode, d.typeCode);
    if (row.texts[0] == "UDP" && Holds(record, tag)) {
      EXPECT_EQ(row.texts[1], std::to_string(28 + tag.size() + 4));
      EXPECT_EQ(row.texts[3], std::to_string(udpOut.port));
    }
    if (row.texts[0] == "ICMP") {
      EXPECT_EQ(row.texts[3], "");
      EXPECT_EQ(row.texts[5], "");
      if (Holds(record, icmpText)) {
        EXPECT_EQ(row.texts[1], std::to_string(28 + icmpText.size()));
      }
    }
    ++checked;
  }
  EXPECT_GE(checked, 5);  // at least the handshake, the data, the datagram and the echo pair
}

TEST(LiveLoopback, APortFilterShowsAndLogsOnlyMatchingPackets) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  env.UseAdapter(0, "lo");
  UdpEnd wanted, other, sender;
  PacketFilterSet filters;
  filters.List(FilterList::DestPortMustBe).push_back(static_cast<std::uint32_t>(wanted.port));
  ASSERT_TRUE(PacketFilterStore(kRegistryPath).Save(filters).Ok());

  auto pane = MakePane(env.App());
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  thread->ApplyFilters(1);
  pane->ListStart();
  ASSERT_TRUE(thread->GetIdleMessage());
  EXPECT_TRUE(thread->FiltersLoaded());
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(sender.SendTo(wanted.port, "wanted-" + std::to_string(i)));
    ASSERT_TRUE(sender.SendTo(other.port, "other-" + std::to_string(i)));
  }
  // The last datagram sent is filtered out: once the wanted ones are in and the reference saw
  // them all, nothing else is on its way.
  EXPECT_TRUE(WaitUntil([&] { return pane->GetItemCount() >= 5; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pane->ListStop();
  EXPECT_FALSE(thread->FiltersLoaded());  // released when capture stops

  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 5u);
  for (const Row& row : rows) EXPECT_EQ(row.texts[5], std::to_string(wanted.port));
  // The log holds those five and nothing else.
  PacketLogFile log;
  ASSERT_TRUE(log.OpenReadOnly(env.LogPath()));
  std::vector<std::uint8_t> data(0xFFFF);
  int records = 0;
  LONG read;
  while ((read = log.ReadNext(nullptr, data.data(), 0xFFFF, nullptr, nullptr, nullptr)) > 0) {
    EXPECT_EQ(DecodeFrame(data.data(), static_cast<std::uint32_t>(read), 14).destinationPort, wanted.port);
    ++records;
  }
  EXPECT_EQ(records, 5);

  // The switch off: both ports again.
  thread->ApplyFilters(0);
  pane->ListStart();
  ASSERT_TRUE(sender.SendTo(other.port, "other-again"));
  EXPECT_TRUE(WaitUntil([&] {
    for (const Row& row : Rows(*pane))
      if (row.texts[5] == std::to_string(other.port)) return true;
    return false;
  }, 5000));
  pane->ListStop();
}

TEST(PaneStartStop, StartWithoutAUsableAdapterGivesUpWithinHalfASecond) {
  for (const auto& [index, name] : std::vector<std::pair<int, std::string>>{{-1, "Close Adapter"}, {0, "no-such-device0"}, {0, ""}}) {
    SCOPED_TRACE(name);
    CaptureEnv env;
    env.UseAdapter(index, name);
    auto pane = MakePane(env.App());
    MonListIpMonCWinThread* thread = pane->GetCaptureThread();
    const auto start = Clock::now();
    EXPECT_EQ(pane->ListStart(), 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_LT(took, 1500) << "bounded by 50 checks 10 ms apart";
    EXPECT_FALSE(thread->GetIdleMessage());
    EXPECT_FALSE(thread->IsAdapterOpen());
    EXPECT_EQ(pane->GetItemCount(), 0);
    pane->ListStop();
    std::printf("ListStart without adapter '%s': %lld ms\n", name.c_str(), static_cast<long long>(took));
  }
}

TEST(PaneStartStop, StopAndCloseWhileCapturingAreQuickAndLeaveTheLogComplete) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  env.UseAdapter(0, "lo");
  auto pane = MakePane(env.App());
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  UdpEnd in, out;
  for (int round = 0; round < 3; ++round) {
    pane->ListStart();
    ASSERT_TRUE(thread->GetIdleMessage());
    for (int i = 0; i < 50; ++i) out.SendTo(in.port, "round");
    EXPECT_TRUE(WaitUntil([&] { return pane->GetItemCount() >= 50; }, 5000));
    const auto start = Clock::now();
    pane->ListStop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(thread->GetIdleMessage());
  }
  // Every row's record is in the file by the time the pane is closed.
  const auto rows = Rows(*pane);
  pane->ListStart();
  const auto start = Clock::now();
  pane->ProcessClose();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(pane->GetThread(), nullptr);
  for (const Row& row : rows) EXPECT_FALSE(RecordAt(env.LogPath(), row.item.recordPosition).empty());
}

// A burst of some 6 MB (three times the capture library's own ring) arrives while the capture
// thread is held: the kernel ring of the default "CaptureBufferKB" keeps all of it for the
// reader, while the smallest ring the profile may ask for (1 MiB) overflows, so the value is the
// one the kernel got.
TEST(LiveLoopback, ABurstWhileTheReaderIsHeldWaitsInTheKernelRingOfTheProfilesSize) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  for (const int bufferKB : {0, 1024}) {
    SCOPED_TRACE(bufferKB);
    CaptureEnv env;
    env.App().WriteProfileInt("", "LogPageSize", 10000);
    if (bufferKB) env.App().WriteProfileInt("", "CaptureBufferKB", bufferKB);
    env.UseAdapter(0, "lo");
    auto pane = MakePane(env.App());
    MonListIpMonCWinThread* thread = pane->GetCaptureThread();
    pane->ListStart();
    ASSERT_TRUE(thread->GetIdleMessage());
    UdpEnd in, out;
    const std::string payload(200, 'b');
    thread->SuspendThread();
    ASSERT_TRUE(thread->WaitForQuiet(2000));
    std::uint64_t sent = 0;
    for (int i = 0; i < 20000; ++i) sent += out.SendTo(in.port, payload) ? 1 : 0;
    thread->ResumeThread();
    if (bufferKB == 0) {
      EXPECT_TRUE(WaitUntil([&] { return thread->GetRowsAdded() >= sent; }, 30000));
    } else {
      // The ring is read empty once the count stops moving.
      std::uint64_t seen = ~0ull;
      while (seen != thread->GetRowsAdded()) {
        seen = thread->GetRowsAdded();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
      // The status bar learns of the drops while capture still runs.
      EXPECT_TRUE(WaitUntil([&] { return thread->GetCaptureCounts().kernelDropped > 0; }, 5000));
    }
    pane->ListStop();
    std::uint32_t received = 0, dropped = 0;
    thread->GetCaptureStats(&received, &dropped);
    // Stopped, the status bar's figures are the kernel's last counts and the log's records.
    const CaptureCounts counts = thread->GetCaptureCounts();
    EXPECT_FALSE(counts.capturing);
    EXPECT_EQ(counts.kernelDropped, dropped);
    EXPECT_EQ(counts.kernelReceived, received);
    EXPECT_EQ(counts.captured, thread->GetFramesRead());
    EXPECT_EQ(counts.logged, counts.captured);
    if (bufferKB == 0) {
      EXPECT_EQ(dropped, 0u);
      EXPECT_GE(received, sent);
    } else {
      EXPECT_GT(dropped, 0u);
      EXPECT_LT(thread->GetRowsAdded(), sent);
    }
  }
}
