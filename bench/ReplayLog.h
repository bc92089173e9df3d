#pragma once
// A packet log of a given size for the benches, made with the packet log writer from a replay
// capture's frames, appended over and over.
#include <pcap/pcap.h>

#include <cstdint>
#include <string>

#include "common/TimeText.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogFile.h"

inline bool WriteReplayLog(const std::string& capture, const std::string& logPath, long megabytes) {
  PacketLogFile log;
  if (!log.OpenTruncate(logPath)) return false;
  const std::int64_t target = static_cast<std::int64_t>(megabytes) * 1000 * 1000;
  DecodedPacket decoded;
  while (log.Length() < target) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* in = pcap_open_offline(capture.c_str(), error);
    if (!in) return false;
    pcap_pkthdr* header;
    const u_char* data;
    long written = 0;
    while (log.Length() < target && pcap_next_ex(in, &header, &data) == 1) {
      DecodeFrame(data, header->caplen, 14, decoded);
      const std::string time = FormatMillisTime(header->ts.tv_sec, static_cast<int>(header->ts.tv_usec / 1000));
      written += log.Write(data, static_cast<LONG>(header->caplen), decoded.sourceText.c_str(),
                           decoded.destinationText.c_str(), time.c_str(), nullptr) > 0;
    }
    pcap_close(in);
    if (written == 0) return false;
  }
  return true;
}
