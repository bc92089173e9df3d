// The packet windows' rendering of a logged packet in hex, decimal and text, into buffers of the
// sizes the windows use and into buffers too small for it: nothing is written past them.
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "controls/inspect/PacketFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 65535 + 2) return 0;
  // The first two bytes choose the header and data capacities of the small buffers.
  const LONG small = 1 + data[0];
  const LONG tiny = 1 + data[1] % 16;
  const std::size_t length = size - 2;
  const auto packet = std::make_unique<std::uint8_t[]>(length == 0 ? 1 : length);
  if (length > 0) std::memcpy(packet.get(), data + 2, length);
  const auto packetLength = static_cast<LONG>(length);
  const char* protocol = PacketFormat::ProtocolOf(packet.get(), packetLength);
  PacketFormat::IpTotalLength(packet.get(), packetLength);

  const std::uint8_t* payload = nullptr;
  const std::uint8_t* header = nullptr;
  LONG payloadLength = 0, headerLength = 0;
  PacketFormat::displayGetPointers(protocol, packet.get(), packetLength, &payload, &payloadLength, &header,
                                   &headerLength);
  fuzz::Check(payloadLength >= 0 && headerLength >= 0 && payloadLength + headerLength <= packetLength,
              "header and payload lie in the packet");

  const LONG full = packetLength * 5 + 64;  // room for every rendering
  for (int mode : {PacketFormat::kHex, PacketFormat::kDecimal, PacketFormat::kText}) {
    for (const LONG capacity : {full, small, tiny}) {
      std::vector<char> text(static_cast<std::size_t>(capacity));
      std::vector<char> heading(static_cast<std::size_t>(capacity));
      PacketFormat::Written written;
      PacketFormat::displayFormat(mode, protocol, packet.get(), packetLength, text.data(), capacity, heading.data(),
                                  capacity, 0, &written);
      fuzz::Check(written.data <= capacity && written.header <= capacity, "the rendering fits its buffers");
    }
  }
  return 0;
}
