#pragma once
#include <cstdint>

// The pcapng block types and marks that both the capture file reader and the writer use.
namespace pcapng {
constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceBlock = 1;
constexpr std::uint32_t kSimplePacketBlock = 3;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint32_t kLinkTypeEthernet = 1;
}  // namespace pcapng
