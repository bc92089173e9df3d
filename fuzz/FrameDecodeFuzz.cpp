// Frame decoding: a captured frame of any length and content, decoded at the Ethernet offset and
// at offsets the input picks (IPv6 where the bytes before them hold its Ethernet type), as every
// protocol, then matched against a filter set.
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "common/AddressText.h"
#include "controls/packets/PacketFilter.h"
#include "wincap/DecodedPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the captured length, so any read past it is caught.
  const auto frame = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
  if (size > 0) std::memcpy(frame.get(), data, size);
  const auto length = static_cast<std::uint32_t>(size);

  DecodedPacket packet = DecodeFrame(frame.get(), length, 14);
  const auto payloadLength = static_cast<std::size_t>(packet.payloadLength);
  fuzz::Check(packet.payloadLength >= 0 && payloadLength <= size, "payload within the frame");
  if (packet.payload != nullptr)
    fuzz::Check(packet.payload >= frame.get() && payloadLength <= static_cast<std::size_t>(frame.get() + size - packet.payload),
                "payload inside the frame");
  const std::uint32_t offsets[] = {0, 14, 18, size > 0 ? static_cast<std::uint32_t>(data[0]) : 0u, length, length + 1};
  for (std::uint32_t offset : offsets) {
    // IPv6 wherever the two bytes before the offset say so.
    DecodedPacket any;
    DecodeFields(frame.get(), length, offset, any);
    FormatDecodedTexts(any);
    if (any.ipv6 && any.hasSource)
      fuzz::Check(any.sourceText == Inet6Ntop(any.source6.data()), "IPv6 text as the sockets library writes it");
    if (any.payload != nullptr)
      fuzz::Check(any.payload >= frame.get() && static_cast<std::size_t>(any.payloadLength) <=
                                                    static_cast<std::size_t>(frame.get() + size - any.payload),
                  "payload inside the frame at any offset");
  }
  for (std::int32_t type : {1, 2, 3, 4, 0, 99}) {
    for (std::uint32_t offset : offsets) {
      DecodedPacket as;
      DecodeFieldsAs(type, frame.get(), length, offset, as);
      FormatDecodedTexts(as);
      DecodeFrameAs(type, frame.get(), length, offset, as);
    }
  }

  // The filters read the decoded fields and the payload.
  PacketFilterSet set;
  set.mustContain = "GET";
  set.mustNotContain = std::string(1, '\0');
  set.minSize = 20;
  PacketFilter filter;
  if (filter.Load(set)) {
    filter.Passes(packet);
    filter.MustContain(packet);
    filter.MustNotContain(packet);
  }
  return 0;
}
