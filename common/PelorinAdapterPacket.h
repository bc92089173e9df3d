#pragma once
#include <cstdint>

// One captured frame as the adapter hands it out. It holds a pointer, so it is not a file record:
// only the field order is fixed.
struct _PelorinAdapterPacket {
  std::uint32_t seconds;        // capture time stamp, whole seconds
  std::uint32_t microseconds;   // capture time stamp, microseconds part
  const std::uint8_t* data;     // the frame from its Ethernet header on; owned by the capture
                                // library and valid only until the next read on the same adapter
  std::uint32_t length;         // captured length in bytes
};
