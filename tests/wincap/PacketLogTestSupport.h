#pragma once
// The tests name only the fields of a packet or criteria they set; GCC 12 warns about the rest.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/WinTypes.h"
#include "wincap/PacketLogFile.h"

namespace log_test {

// One logged packet: an Ethernet header, a 20-byte IPv4 header (or a 40-byte IPv6 one when the
// source is IPv6 text) and the payload.
struct Packet {
  int protocol = 6;
  std::string source = "10.0.0.1";
  std::string destination = "10.0.0.2";
  std::string payload;
  int size = -1;  // the IPv4 total length; -1 = 20 + payload
};

inline std::vector<std::uint8_t> Frame6(const Packet& p) {
  std::vector<std::uint8_t> frame(54 + p.payload.size(), 0);
  frame[12] = 0x86;
  frame[13] = 0xDD;
  std::uint8_t* ip = frame.data() + 14;
  ip[0] = 0x60;
  ip[4] = static_cast<std::uint8_t>(p.payload.size() >> 8);
  ip[5] = static_cast<std::uint8_t>(p.payload.size());
  ip[6] = static_cast<std::uint8_t>(p.protocol);
  ip[7] = 64;
  inet_pton(AF_INET6, p.source.c_str(), ip + 8);
  inet_pton(AF_INET6, p.destination.c_str(), ip + 24);
  std::memcpy(ip + 40, p.payload.data(), p.payload.size());
  return frame;
}

inline std::vector<std::uint8_t> Frame(const Packet& p) {
  if (p.source.find(':') != std::string::npos) return Frame6(p);
  std::vector<std::uint8_t> frame(34 + p.payload.size(), 0);
  frame[12] = 0x08;
  std::uint8_t* ip = frame.data() + 14;
  ip[0] = 0x45;
  const int size = p.size >= 0 ? p.size : static_cast<int>(20 + p.payload.size());
  ip[2] = static_cast<std::uint8_t>(size >> 8);
  ip[3] = static_cast<std::uint8_t>(size);
  ip[9] = static_cast<std::uint8_t>(p.protocol);
  inet_pton(AF_INET, p.source.c_str(), ip + 12);
  inet_pton(AF_INET, p.destination.c_str(), ip + 16);
  std::memcpy(ip + 20, p.payload.data(), p.payload.size());
  return frame;
}

// Appends the packets with the packet log writer; returns their record positions.
inline std::vector<LONG> Append(const std::string& path, const std::vector<Packet>& packets) {
  PacketLogFile log;
  std::vector<LONG> positions;
  if (!log.OpenShared(path)) return positions;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const auto frame = Frame(packets[i]);
    const std::string time = "12/06/26 07:50:" + std::to_string(10 + i % 50) + ":" + std::to_string(100 + i % 900);
    DWORD position = 0;
    if (log.Write(frame.data(), static_cast<LONG>(frame.size()), packets[i].source.c_str(),
                  packets[i].destination.c_str(), time.c_str(), &position) > 0)
      positions.push_back(static_cast<LONG>(position));
  }
  return positions;
}

// count packets from 10.0.<i / 256>.<i % 256> to 10.1.0.1, each with its index as payload.
inline std::vector<Packet> Numbered(int count) {
  std::vector<Packet> packets(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    packets[i].source = "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
    packets[i].destination = "10.1.0.1";
    packets[i].payload = "packet " + std::to_string(i);
  }
  return packets;
}

}  // namespace log_test
