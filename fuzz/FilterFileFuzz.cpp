// The ".flt" reader: any bytes decode to a set or to a refusal; a set read back is written again
// to the same bytes it was read from (up to the end of the set) and loads into the filters.
#include <string_view>

#include "FuzzInput.h"
#include "controls/packets/PacketFilter.h"
#include "controls/packets/PacketFilterFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  PacketFilterSet set;
  if (!PacketFilterFile::Decode(bytes, set).Ok()) return 0;
  const std::string again = PacketFilterFile::Encode(set);
  fuzz::Check(again.size() <= size && bytes.substr(0, again.size()) == again, "a set is written as it was read");
  PacketFilterSet second;
  fuzz::Check(PacketFilterFile::Decode(again, second).Ok() && PacketFilterFile::Encode(second) == again,
              "a written set reads back");
  PacketFilter filter;
  filter.Load(set);
  // And the same bytes through the file.
  const std::string path = fuzz::WriteFile("input.flt", data, size);
  PacketFilterSet fromFile;
  fuzz::Check(PacketFilterFile::Read(path, fromFile).Ok(), "the file reads as its bytes do");
  return 0;
}
