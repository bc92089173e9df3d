#include "controls/packets/PacketRowCellText.h"

#include <algorithm>
#include <cstring>

#include "common/AddressText.h"
#include "wincap/DecodedPacket.h"

namespace packet_row {

namespace {

std::string AddressText(const std::uint8_t* address, bool ipv6) {
  if (ipv6) return Inet6Ntop(address);
  std::uint32_t v4 = 0;
  std::memcpy(&v4, address, sizeof v4);
  return InetNtoa(v4);
}

void NumberText(bool has, std::int64_t value, std::string* text) {
  if (has)
    *text = std::to_string(value);
  else
    text->clear();
}

}  // namespace

void FillCells(const DecodedPacket& packet, std::string_view time, PacketRowCells::Status status,
               PacketRowCells* cells) {
  if (packet.ipv6) {
    std::memcpy(cells->source, packet.source6.data(), 16);
    std::memcpy(cells->destination, packet.destination6.data(), 16);
  } else {
    std::memcpy(cells->source, &packet.source, 4);
    std::memcpy(cells->destination, &packet.destination, 4);
  }
  cells->size = packet.size;
  cells->sourcePort = static_cast<std::uint16_t>(packet.sourcePort);
  cells->destinationPort = static_cast<std::uint16_t>(packet.destinationPort);
  cells->ipv6 = packet.ipv6;
  cells->has = static_cast<std::uint8_t>(
      (packet.hasSize ? PacketRowCells::kSize : 0) | (packet.hasSource ? PacketRowCells::kSource : 0) |
      (packet.hasDestination ? PacketRowCells::kDestination : 0) |
      (packet.hasSourcePort ? PacketRowCells::kSourcePort : 0) |
      (packet.hasDestinationPort ? PacketRowCells::kDestinationPort : 0));
  cells->status = status;
  const std::size_t length = std::min(time.size(), sizeof cells->time);
  std::memcpy(cells->time, time.data(), length);
  cells->timeLength = static_cast<std::uint8_t>(length);
}

bool CellText(const PacketRowItem& item, int column, std::string* text) {
  const PacketRowCells& cells = item.cells;
  const auto has = [&cells](std::uint8_t bit) { return (cells.has & bit) != 0; };
  switch (column) {
    case 0:
      text->assign(PacketTypeText(item.record.typeCode, cells.ipv6));
      return true;
    case 1:
      NumberText(has(PacketRowCells::kSize), cells.size, text);
      return true;
    case 2:
    case 4: {
      const bool source = column == 2;
      if (has(source ? PacketRowCells::kSource : PacketRowCells::kDestination))
        *text = AddressText(source ? cells.source : cells.destination, cells.ipv6);
      else
        text->clear();
      return true;
    }
    case 3:
      NumberText(has(PacketRowCells::kSourcePort), cells.sourcePort, text);
      return true;
    case 5:
      NumberText(has(PacketRowCells::kDestinationPort), cells.destinationPort, text);
      return true;
    case 6:
      text->assign(cells.time, cells.timeLength);
      return true;
    case 7:
      text->assign(StatusText(static_cast<PacketRowCells::Status>(cells.status)));
      return true;
    default:
      return false;
  }
}

}  // namespace packet_row
