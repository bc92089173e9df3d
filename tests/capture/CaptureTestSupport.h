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
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ShowPacketReceivePackIp.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
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
    ListRow row;
    if (!list.GetRow(i, &row)) continue;
    Row copy;
    for (int c = 0; c < 8; ++c) copy.texts[c] = row.Text(c);
    if (row.data) copy.item = *reinterpret_cast<const _ShowPacketReceivePackIp*>(row.data);
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

// The replay captures of the test data, in name order.
inline std::vector<std::string> ReplayCaptures() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(kPcapFolder))
    if (entry.path().extension() == ".pcap") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
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
