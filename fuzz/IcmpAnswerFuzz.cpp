// An ICMP answer as the echo calls receive it from the raw sockets: the first 8 input bytes are
// the request it is matched against (destination, identifier, sequence), the rest the packet,
// read as an IPv4 packet and as an ICMPv6 message (from and to the destination's bytes repeated).
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "platform/linux/IcmpAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  IPAddr destination;
  std::memcpy(&destination, data, 4);
  const auto identifier = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
  const auto sequence = static_cast<std::uint16_t>(data[6] << 8 | data[7]);
  const std::size_t length = size - 8;
  const auto packet = std::make_unique<std::uint8_t[]>(length == 0 ? 1 : length);
  if (length > 0) std::memcpy(packet.get(), data + 8, length);
  std::uint8_t destination6[16];
  for (std::size_t i = 0; i < sizeof destination6; i += 4) std::memcpy(destination6 + i, &destination, 4);
  for (const IcmpAnswer& answer :
       {ReadIcmpAnswer(packet.get(), length, destination, identifier, sequence),
        ReadIcmp6Answer(packet.get(), length, destination6, destination6, identifier, sequence)})
    if (answer.data != nullptr)
      fuzz::Check(answer.data >= packet.get() &&
                      answer.dataSize <= static_cast<std::size_t>(packet.get() + length - answer.data),
                  "the answer's data lies in the packet");
  return 0;
}
