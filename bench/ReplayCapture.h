#pragma once
#include <pcap/pcap.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

// The capture file the replay benchmarks read: packets frames cycling through every Ethernet
// frame of the recorded test captures, in file order, with steadily rising time stamps. With
// halfIpv6, IPv6 frames (Ethernet type 0x86DD) of those captures and the other frames take turns,
// so half the file is IPv6. Returns the bytes of frame data written, or -1 when there is nothing
// to repeat or the file cannot be written.
inline double WriteReplayCapture(const std::string& path, long packets, bool halfIpv6 = false) {
  namespace fs = std::filesystem;
  const fs::path folder = std::getenv("PELORIN_TESTDATA") != nullptr
                              ? fs::path(std::getenv("PELORIN_TESTDATA")) / "pcap"
                              : fs::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "pcap";
  struct Frame {
    pcap_pkthdr header;
    std::vector<u_char> bytes;
  };
  std::vector<Frame> frames;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".pcap") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* in = pcap_open_offline(file.c_str(), error);
    if (!in) continue;
    if (pcap_datalink(in) == DLT_EN10MB) {
      pcap_pkthdr* header;
      const u_char* data;
      while (pcap_next_ex(in, &header, &data) == 1)
        frames.push_back({*header, std::vector<u_char>(data, data + header->caplen)});
    }
    pcap_close(in);
  }
  if (frames.empty()) return -1;
  std::vector<Frame> ipv6;
  if (halfIpv6) {
    auto isIpv6 = [](const Frame& f) { return f.bytes.size() >= 14 && f.bytes[12] == 0x86 && f.bytes[13] == 0xDD; };
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(ipv6), isIpv6);
    frames.erase(std::remove_if(frames.begin(), frames.end(), isIpv6), frames.end());
    if (ipv6.empty() || frames.empty()) return -1;
  }

  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 262144);
  pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
  if (!out) {
    pcap_close(dead);
    return -1;
  }
  double bytes = 0;
  for (long i = 0; i < packets; ++i) {
    const auto n = static_cast<std::size_t>(halfIpv6 ? i / 2 : i);
    const Frame& frame = halfIpv6 && i % 2 == 1 ? ipv6[n % ipv6.size()] : frames[n % frames.size()];
    pcap_pkthdr header = frame.header;
    header.ts.tv_sec = 1765000000 + i / 1000;
    header.ts.tv_usec = (i % 1000) * 1000;
    pcap_dump(reinterpret_cast<u_char*>(out), &header, frame.bytes.data());
    bytes += header.caplen;
  }
  pcap_dump_close(out);
  pcap_close(dead);
  return bytes;
}
