#pragma once
#include <arpa/inet.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../capture/CaptureTestSupport.h"
#include "common/LinkAddresses6.h"
#include "common/MonListMonItemDataIp.h"

namespace link_test {

// One line of a capture's independent decode (.fields.tsv): frame number, lengths, protocol,
// IP total length, addresses and the TCP or UDP ports.
struct Fields {
  int protocol = 0;
  int totalLength = 0;
  std::string source, destination;
  int sourcePort = 0, destinationPort = 0;
  bool ipv6 = false;
};

inline std::vector<Fields> ReadFields(const std::string& capture) {
  std::vector<Fields> rows;
  std::ifstream in(capture.substr(0, capture.size() - 5) + ".fields.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream split(line);
    std::string cell;
    while (std::getline(split, cell, '\t')) cells.push_back(cell);
    cells.resize(12);
    const auto number = [](const std::string& text) { return text.empty() ? 0 : std::stoi(text); };
    Fields row;
    row.protocol = number(cells[4]);
    row.totalLength = number(cells[5]);
    row.source = cells[6];
    row.destination = cells[7];
    row.sourcePort = number(cells[8].empty() ? cells[10] : cells[8]);
    row.destinationPort = number(cells[9].empty() ? cells[11] : cells[9]);
    rows.push_back(row);
  }
  // The .fields.tsv leaves the addresses of IPv6 frames out: tshark reads those.
  for (const auto& [number, view] : capture_test::TsharkIpv6(capture)) {
    Fields& row = rows.at(number - 1);
    row.ipv6 = true;
    row.protocol = view.type == "TCP6" ? 6 : view.type == "UDP6" ? 17 : view.type == "ICMP6" ? 58 : -1;
    row.source = view.source;
    row.destination = view.destination;
  }
  return rows;
}

inline std::uint32_t Address(const std::string& text) {
  in_addr address{};
  inet_pton(AF_INET, text.c_str(), &address);
  return address.s_addr;
}

// The link of a decoded row: A = its source, B = its destination (an IPv6 row's addresses read
// as no IPv4 ones and go into its LinkAddresses6).
inline _MonListMonItemDataIp LinkOf(const Fields& row) {
  _MonListMonItemDataIp link{};
  link.localAddr = Address(row.source);
  link.remoteAddr = Address(row.destination);
  link.localPort = static_cast<std::uint32_t>(row.sourcePort);
  link.remotePort = static_cast<std::uint32_t>(row.destinationPort);
  return link;
}
inline std::optional<LinkAddresses6> Link6Of(const Fields& row) {
  if (!row.ipv6) return std::nullopt;
  LinkAddresses6 link6;
  inet_pton(AF_INET6, row.source.c_str(), link6.local.data());
  inet_pton(AF_INET6, row.destination.c_str(), link6.remote.data());
  return link6;
}

// Whether a decoded row belongs to the link in either direction.
inline bool OnLink(const Fields& row, const Fields& link) {
  if (row.protocol != link.protocol) return false;
  return (row.source == link.source && row.destination == link.destination && row.sourcePort == link.sourcePort &&
          row.destinationPort == link.destinationPort) ||
         (row.source == link.destination && row.destination == link.source && row.sourcePort == link.destinationPort &&
          row.destinationPort == link.sourcePort);
}

}  // namespace link_test
