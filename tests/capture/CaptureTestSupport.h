#pragma once
// GCC 12 reports members left out of a designated initializer even when they have default
// values; the frame specs below rely on those defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/ShowPacketReceivePackIp.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
#include "wincap/PacketLogFile.h"
#include "ui/UiPump.h"

namespace capture_test {

inline const std::string kRegistryPath = "\\Software\\DunmereIncProducts\\Setup\\PelorinPro";
inline const std::string kPcapFolder = std::string(PELORIN_TESTDATA) + "/pcap";

inline bool IsRoot() { return geteuid() == 0; }

// Whether an export left a part file (named PATH.<random>.part) in the folder of path.
inline bool PartFileBeside(const std::string& path) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path(), error))
    if (entry.path().string().ends_with(".part")) return true;
  return false;
}

// A private folder, registry store and packet log for one test. The store is chosen through the
// environment before any thread starts.
class CaptureEnv {
 public:
  CaptureEnv() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-capture-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_folder = pattern;
    setenv("PELORIN_REGISTRY", File("registry.reg").c_str(), 1);
    m_app.WriteProfileString("", "IpMonLogCurrent", LogPath());
    UiPump::Instance().AttachToCurrentThread();
  }
  ~CaptureEnv() {
    UiPump::Instance().PumpPending();
    std::error_code ignored;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
  }
  CaptureEnv(const CaptureEnv&) = delete;
  CaptureEnv& operator=(const CaptureEnv&) = delete;

  std::string File(const std::string& name) const { return m_folder + "/" + name; }
  std::string LogPath() const { return File("PelorinProLogPkt.rec"); }
  AppProfile& App() { return m_app; }

  void UseAdapter(int index, const std::string& name) {
    m_app.WriteProfileInt("", "AdapterCurr", index);
    m_app.WriteProfileString("", "AdapterCurrName", name);
    m_app.WriteProfileString("", "AdapterCurrDesc", "test adapter");
  }
  void UseCaptureFile(const std::string& path) { UseAdapter(0, "file://" + path); }

 private:
  std::string m_folder;
  AppProfile m_app;
};

// Bounded wait on any thread's condition.
template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct Row {
  std::string texts[8];
  _ShowPacketReceivePackIp item{};
};

inline std::vector<Row> Rows(MonListIpMon& list) {
  std::vector<Row> rows;
  const int count = list.GetItemCount();
  for (int i = 0; i < count; ++i) {
    Row copy;
    // The texts as drawn, made from the row's record while the rows are locked.
    if (!list.ReadRow(i, [&](const ListRow& row) {
          for (int c = 0; c < 8; ++c) copy.texts[c] = list.CellText(row, c);
          if (row.data) copy.item = *reinterpret_cast<const _ShowPacketReceivePackIp*>(row.data);
        }))
      continue;
    rows.push_back(copy);
  }
  return rows;
}

// Ethernet + IPv4 + TCP/UDP/ICMP frames built by hand for replay files.
struct FrameParts {
  int protocol = 17;  // 6 TCP, 17 UDP, 1 ICMP, other
  std::string source = "10.0.0.1";
  std::string destination = "10.0.0.2";
  int sourcePort = 1025;
  int destinationPort = 80;
  std::string payload;
  int totalLengthOverride = -1;  // the IPv4 total length field, when not the real one
};

inline std::vector<std::uint8_t> BuildFrame(const FrameParts& parts) {
  const std::size_t transport = parts.protocol == 6 ? 20 : (parts.protocol == 17 || parts.protocol == 1 ? 8 : 0);
  std::vector<std::uint8_t> frame(14 + 20 + transport + parts.payload.size(), 0);
  frame[12] = 0x08;  // IPv4
  std::uint8_t* ip = frame.data() + 14;
  ip[0] = 0x45;
  const int total = parts.totalLengthOverride >= 0 ? parts.totalLengthOverride
                                                   : static_cast<int>(20 + transport + parts.payload.size());
  ip[2] = static_cast<std::uint8_t>(total >> 8);
  ip[3] = static_cast<std::uint8_t>(total & 0xFF);
  ip[8] = 64;
  ip[9] = static_cast<std::uint8_t>(parts.protocol);
  inet_pton(AF_INET, parts.source.c_str(), ip + 12);
  inet_pton(AF_INET, parts.destination.c_str(), ip + 16);
  if (parts.protocol == 6 || parts.protocol == 17) {
    ip[20] = static_cast<std::uint8_t>(parts.sourcePort >> 8);
    ip[21] = static_cast<std::uint8_t>(parts.sourcePort & 0xFF);
    ip[22] = static_cast<std::uint8_t>(parts.destinationPort >> 8);
    ip[23] = static_cast<std::uint8_t>(parts.destinationPort & 0xFF);
  }
  if (transport == 20) ip[32] = 0x50;  // TCP data offset (the frame holds the TCP header then)
  if (parts.protocol == 1) ip[20] = 8;  // echo request
  std::memcpy(ip + 20 + transport, parts.payload.data(), parts.payload.size());
  return frame;
}

// Ethernet + IPv6 frames built by hand: the extension headers, in order, between the IPv6 header
// and the upper header that nextHeader names (6 TCP, 17 UDP, 58 ICMPv6 echo, anything else none).
struct Extension {
  int type;  // 0 hop-by-hop, 43 routing, 44 fragment, 51 AH, 60 destination options, ...
  std::vector<std::uint8_t> bytes;  // the whole header; its first byte is filled in
};
struct Frame6Parts {
  int nextHeader = 17;
  std::string source = "2001:db8:85a3::8a2e:370:7334";
  std::string destination = "2001:db8::2";
  int sourcePort = 1025;
  int destinationPort = 80;
  std::vector<Extension> extensions;
  std::string payload;
};

inline std::vector<std::uint8_t> BuildFrame6(const Frame6Parts& parts) {
  std::vector<std::uint8_t> frame(14 + 40, 0);
  frame[12] = 0x86;
  frame[13] = 0xDD;
  frame[14] = 0x60;
  frame[14 + 7] = 64;
  inet_pton(AF_INET6, parts.source.c_str(), frame.data() + 14 + 8);
  inet_pton(AF_INET6, parts.destination.c_str(), frame.data() + 14 + 24);
  std::size_t nextAt = 14 + 6;
  for (const Extension& e : parts.extensions) {
    frame[nextAt] = static_cast<std::uint8_t>(e.type);
    nextAt = frame.size();
    frame.insert(frame.end(), e.bytes.begin(), e.bytes.end());
  }
  frame[nextAt] = static_cast<std::uint8_t>(parts.nextHeader);
  const std::size_t upper = frame.size();
  const std::size_t transport = parts.nextHeader == 6 ? 20 : (parts.nextHeader == 17 || parts.nextHeader == 58 ? 8 : 0);
  frame.resize(upper + transport, 0);
  if (parts.nextHeader == 6 || parts.nextHeader == 17) {
    const int ports[] = {parts.sourcePort, parts.destinationPort};
    for (int i = 0; i < 2; ++i) {
      frame[upper + 2 * i] = static_cast<std::uint8_t>(ports[i] >> 8);
      frame[upper + 2 * i + 1] = static_cast<std::uint8_t>(ports[i] & 0xFF);
    }
  }
  if (parts.nextHeader == 6) frame[upper + 12] = 0x50;
  if (parts.nextHeader == 17) {
    const std::size_t udpLength = 8 + parts.payload.size();
    frame[upper + 4] = static_cast<std::uint8_t>(udpLength >> 8);
    frame[upper + 5] = static_cast<std::uint8_t>(udpLength & 0xFF);
  }
  if (parts.nextHeader == 58) frame[upper] = 128;  // echo request
  frame.insert(frame.end(), parts.payload.begin(), parts.payload.end());
  const std::size_t payloadLength = frame.size() - 14 - 40;
  frame[14 + 4] = static_cast<std::uint8_t>(payloadLength >> 8);
  frame[14 + 5] = static_cast<std::uint8_t>(payloadLength & 0xFF);
  return frame;
}

// Writes frames to an Ethernet capture file.
inline bool WriteCapture(const std::string& path, const std::vector<std::vector<std::uint8_t>>& frames) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
  pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
  if (out == nullptr) {
    pcap_close(dead);
    return false;
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    pcap_pkthdr header{};
    header.ts.tv_sec = 1765000000 + static_cast<long>(i);
    header.caplen = header.len = static_cast<bpf_u_int32>(frames[i].size());
    pcap_dump(reinterpret_cast<u_char*>(out), &header, frames[i].data());
  }
  pcap_dump_close(out);
  pcap_close(dead);
  return true;
}

// Every frame of a capture file.
inline std::vector<std::vector<std::uint8_t>> ReadCapture(const std::string& path) {
  std::vector<std::vector<std::uint8_t>> frames;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* in = pcap_open_offline(path.c_str(), error);
  if (in == nullptr) return frames;
  pcap_pkthdr* header;
  const u_char* data;
  while (pcap_next_ex(in, &header, &data) == 1) frames.emplace_back(data, data + header->caplen);
  pcap_close(in);
  return frames;
}

struct Record {
  _LogRecMarker header{};
  std::vector<std::uint8_t> data;
};

inline std::vector<Record> ReadLog(const std::string& path) {
  std::vector<Record> records;
  PacketLogFile log;
  if (!log.OpenReadOnly(path)) return records;
  std::vector<std::uint8_t> buffer(0xFFFF);
  Record r;
  LONG position = 0;
  for (LONG n; (n = log.ReadNext(&position, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr, &r.header)) > 0;) {
    r.data.assign(buffer.begin(), buffer.begin() + n);
    records.push_back(r);
  }
  return records;
}

// The replay captures of the test data, in name order.
inline std::vector<std::string> ReplayCaptures() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(kPcapFolder))
    if (entry.path().extension() == ".pcap") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The first of the values tshark lists for a field that occurs more than once (an ICMP error's
// quoted header comes after the outer one).
inline std::string First(const std::string& values) { return values.substr(0, values.find(',')); }

// What tshark, with reassembly off so that every fragment stands alone, makes of each IPv6 frame
// of a capture, as the row the pane should show for it; by frame number (from 1).
struct Ipv6View {
  std::string type, size, source, destination, sourcePort, destinationPort;
};
inline std::map<std::size_t, Ipv6View> TsharkIpv6(const std::string& capture) {
  const std::string command = "tshark -n -o ipv6.defragment:FALSE -r '" + capture +
                              "' -T fields -E separator=/t -e frame.number -e eth.type -e frame.protocols"
                              " -e ipv6.plen -e ipv6.src -e ipv6.dst -e tcp.srcport -e tcp.dstport"
                              " -e udp.srcport -e udp.dstport 2>/dev/null";
  std::map<std::size_t, Ipv6View> views;
  FILE* out = ::popen(command.c_str(), "r");
  if (out == nullptr) return views;
  char line[4096];
  while (std::fgets(line, sizeof line, out)) {
    std::vector<std::string> f;
    std::stringstream split(std::string(line, std::strcspn(line, "\n")));
    for (std::string field; std::getline(split, field, '\t');) f.push_back(First(field));
    f.resize(10);
    if (f[1] != "0x86dd") continue;
    // The first layer after the IPv6 header and its extension headers.
    std::stringstream layers(f[2]);
    std::string layer;
    while (std::getline(layers, layer, ':') && layer != "ipv6") {}
    while (std::getline(layers, layer, ':') && (layer.starts_with("ipv6.") || layer == "ah")) {}
    Ipv6View view;
    view.type = layer == "tcp" ? "TCP6" : layer == "udp" ? "UDP6" : layer == "icmpv6" ? "ICMP6" : "IP6";
    view.size = f[3].empty() ? "" : std::to_string(std::stoi(f[3]) + 40);
    view.source = f[4];
    view.destination = f[5];
    if (layer == "tcp") view.sourcePort = f[6], view.destinationPort = f[7];
    if (layer == "udp") view.sourcePort = f[8], view.destinationPort = f[9];
    views[std::stoul(f[0])] = view;
  }
  ::pclose(out);
  return views;
}

// Rows from firstRow on, one per frame of the capture tshark read: its IPv6 rows as tshark has
// them. The number of rows compared.
inline int ExpectIpv6RowsAsTshark(const std::vector<Row>& rows, const std::map<std::size_t, Ipv6View>& views,
                                  std::size_t firstRow = 0) {
  int compared = 0;
  for (const auto& [number, view] : views) {
    SCOPED_TRACE("IPv6 frame " + std::to_string(number));
    const std::size_t at = firstRow + number - 1;
    if (at >= rows.size()) {
      ADD_FAILURE() << "no row";
      continue;
    }
    const Row& row = rows[at];
    EXPECT_EQ(row.texts[0], view.type);
    EXPECT_EQ(row.texts[1], view.size);
    EXPECT_EQ(row.texts[2], view.source);
    EXPECT_EQ(row.texts[4], view.destination);
    EXPECT_EQ(row.texts[3], view.sourcePort);
    EXPECT_EQ(row.texts[5], view.destinationPort);
    ++compared;
  }
  return compared;
}

// The packet pane on its own (no frame), created with its capture thread.
inline std::unique_ptr<MonListIpMon> MakePane(AppProfile& app, const std::string& title = "Packets") {
  auto pane = std::make_unique<MonListIpMon>(&app, kRegistryPath, title);
  if (pane->MonListCreate(nullptr, 1024, Rect{0, 0, 600, 300}) != 0) return nullptr;
  // The thread opens the log as it starts.
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
  return pane;
}

// Replays a capture file through the pane: start, wait for its end, stop.
inline bool Replay(MonListIpMon& pane, int timeoutMs = 20000) {
  MonListIpMonCWinThread* thread = pane.GetCaptureThread();
  pane.ListStart();
  if (!thread->GetIdleMessage()) return false;
  const bool done = WaitUntil([thread] { return thread->IsReplayDone(); }, timeoutMs);
  pane.ListStop();
  return done;
}

}  // namespace capture_test
