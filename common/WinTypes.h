#pragma once
// The platform's fixed-width integer names. Its "long" is 32 bits wide on every machine,
// which is what the log positions and status codes rely on.
#include <cstdint>

using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = std::uint8_t;
using BOOL = std::int32_t;
using LONG = std::int32_t;
using HRESULT = std::int32_t;
