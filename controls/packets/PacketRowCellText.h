#pragma once
#include <string>
#include <string_view>

#include "common/PacketRowItem.h"

struct DecodedPacket;

// A packet row's cells are kept as the decoder's numbers and made into texts only when they are
// read (drawn, copied, sorted, searched): the texts are those the decoder itself makes.
namespace packet_row {

// The cells of a decoded packet; a time text longer than the row keeps is cut.
void FillCells(const DecodedPacket& packet, std::string_view time, PacketRowCells::Status status,
               PacketRowCells* cells);

// The text of cell 0-7 of a row; false for any other column.
bool CellText(const PacketRowItem& item, int column, std::string* text);

// "Ok", "NoLog" or "Log".
constexpr const char* StatusText(PacketRowCells::Status status) {
  return status == PacketRowCells::kLogged ? "Ok" : status == PacketRowCells::kNoLog ? "NoLog" : "Log";
}

}  // namespace packet_row
