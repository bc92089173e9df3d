#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The block of memory that the console and the firewall engine share through the interface
// file. Every integer is 32-bit little-endian; texts are zero-terminated in fixed fields.
// Both the console classes and the engine program use this one description of it.
struct _RampaSharedBlock {
  std::uint32_t owner;           // 0: written by a creating console (we write 0, never an address)
  std::uint32_t second;          // 4: 0
  char cfgFile[260];             // 8: rule file of the creating console
  char ident[260];               // 268: interface file path or mapping name
  char appName[260];             // 528: creating console's application name
  std::uint32_t uiThreadId;      // 788: creating console's user-interface thread
  std::uint32_t requestPending;  // 792: console sets 1, engine clears
  std::uint32_t replyReady;      // 796: console clears, engine sets when done
  std::uint32_t code;            // 800: message code
  std::uint32_t wparam;          // 804
  std::int32_t lparam;           // 808
  std::uint32_t consoleLock;     // 812: engine; console disables its commands while non-zero
  std::uint8_t reserved[16];     // 816
  std::uint32_t enginePresent;   // 832: engine; non-zero while it serves the block
  std::uint32_t filtering;       // 836: engine; non-zero while the firewall is started
  std::uint8_t engineArea[268];  // 840: the engine's own (see kRampaEngine* below)
  std::uint8_t payload[8192];    // 1108: reply data of the last request
};

constexpr std::size_t kRampaMappingSize = 16384;  // bytes mapped
constexpr std::size_t kRampaUsedSize = 9300;      // bytes the console uses (and wipes)
constexpr std::size_t kRampaTextSize = 260;
constexpr std::size_t kRampaPayloadSize = 8192;

constexpr std::size_t kRampaOffOwner = offsetof(_RampaSharedBlock, owner);
constexpr std::size_t kRampaOffSecond = offsetof(_RampaSharedBlock, second);
constexpr std::size_t kRampaOffCfgFile = offsetof(_RampaSharedBlock, cfgFile);
constexpr std::size_t kRampaOffIdent = offsetof(_RampaSharedBlock, ident);
constexpr std::size_t kRampaOffAppName = offsetof(_RampaSharedBlock, appName);
constexpr std::size_t kRampaOffUiThreadId = offsetof(_RampaSharedBlock, uiThreadId);
constexpr std::size_t kRampaOffRequestPending = offsetof(_RampaSharedBlock, requestPending);
constexpr std::size_t kRampaOffReplyReady = offsetof(_RampaSharedBlock, replyReady);
constexpr std::size_t kRampaOffCode = offsetof(_RampaSharedBlock, code);
constexpr std::size_t kRampaOffWparam = offsetof(_RampaSharedBlock, wparam);
constexpr std::size_t kRampaOffLparam = offsetof(_RampaSharedBlock, lparam);
constexpr std::size_t kRampaOffConsoleLock = offsetof(_RampaSharedBlock, consoleLock);
constexpr std::size_t kRampaOffReserved = offsetof(_RampaSharedBlock, reserved);
constexpr std::size_t kRampaOffEnginePresent = offsetof(_RampaSharedBlock, enginePresent);
constexpr std::size_t kRampaOffFiltering = offsetof(_RampaSharedBlock, filtering);
constexpr std::size_t kRampaOffEngineArea = offsetof(_RampaSharedBlock, engineArea);
constexpr std::size_t kRampaOffPayload = offsetof(_RampaSharedBlock, payload);

static_assert(kRampaOffOwner == 0);
static_assert(kRampaOffSecond == 4);
static_assert(kRampaOffCfgFile == 8);
static_assert(kRampaOffIdent == 268);
static_assert(kRampaOffAppName == 528);
static_assert(kRampaOffUiThreadId == 788);
static_assert(kRampaOffRequestPending == 792);
static_assert(kRampaOffReplyReady == 796);
static_assert(kRampaOffCode == 800);
static_assert(kRampaOffWparam == 804);
static_assert(kRampaOffLparam == 808);
static_assert(kRampaOffConsoleLock == 812);
static_assert(kRampaOffReserved == 816);
static_assert(kRampaOffEnginePresent == 832);
static_assert(kRampaOffFiltering == 836);
static_assert(kRampaOffEngineArea == 840);
static_assert(kRampaOffPayload == 1108);
static_assert(sizeof(_RampaSharedBlock) == kRampaUsedSize);
static_assert(kRampaOffPayload + kRampaPayloadSize == kRampaUsedSize);
static_assert(kRampaUsedSize <= kRampaMappingSize);

// Request slot value while a console is still writing its request: any peer reads it as busy
// and the engine takes only a slot that reads 1.
constexpr std::uint32_t kRampaSlotClaimed = 2;

// The engine's own area (offsets from the start of the block). Consoles may read it for
// diagnostics; nothing of the request protocol depends on it.
constexpr std::size_t kRampaEnginePid = kRampaOffEngineArea + 0;             // engine process id
constexpr std::size_t kRampaEngineCreated = kRampaOffEngineArea + 4;         // 1: the engine created the mapping
constexpr std::size_t kRampaEngineRules = kRampaOffEngineArea + 8;           // rules loaded
constexpr std::size_t kRampaEngineProcesses = kRampaOffEngineArea + 12;      // process entries loaded
constexpr std::size_t kRampaEngineServed = kRampaOffEngineArea + 16;         // requests served
constexpr std::size_t kRampaEngineLastCode = kRampaOffEngineArea + 20;       // code of the last request
constexpr std::size_t kRampaEngineSettingsLoads = kRampaOffEngineArea + 24;  // times the settings were read

// Reply of every request other than the statistics request (the engine's choice of layout).
constexpr std::size_t kRampaReplyCode = 0;    // the request code answered
constexpr std::size_t kRampaReplyResult = 4;  // 0 done, otherwise a status code
constexpr std::size_t kRampaReplyCount = 8;   // rules or process entries now loaded

// Messages the console sends.
constexpr std::int32_t kRampaMsgReloadRules = 1124;
constexpr std::int32_t kRampaMsgStart = 1127;
constexpr std::int32_t kRampaMsgStop = 1128;
constexpr std::int32_t kRampaMsgStatistics = 1132;
constexpr std::int32_t kRampaMsgShutdown = 1133;
constexpr std::int32_t kRampaMsgSettings = 1137;

// 32-bit fields of the block are read and written as atomics: the other side is another
// process polling the same memory. Offsets are multiples of 4 inside a page-aligned view.
inline std::uint32_t RampaBlockGet(const void* view, std::size_t offset) {
  auto* field = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(const_cast<void*>(view)) + offset);
  return std::atomic_ref<std::uint32_t>(*field).load(std::memory_order_acquire);
}

inline void RampaBlockSet(void* view, std::size_t offset, std::uint32_t value) {
  auto* field = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(view) + offset);
  std::atomic_ref<std::uint32_t>(*field).store(value, std::memory_order_release);
}

// Claims a 32-bit field by changing it from expected to desired; false when it held another value.
inline bool RampaBlockClaim(void* view, std::size_t offset, std::uint32_t expected, std::uint32_t desired) {
  auto* field = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(view) + offset);
  return std::atomic_ref<std::uint32_t>(*field).compare_exchange_strong(expected, desired,
                                                                        std::memory_order_acq_rel);
}

// Writes a text into a 260-byte field, cut to 259 characters and zero-padded.
inline void RampaBlockSetText(void* view, std::size_t offset, std::string_view text) {
  auto* field = static_cast<char*>(view) + offset;
  const std::size_t n = text.size() < kRampaTextSize - 1 ? text.size() : kRampaTextSize - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, kRampaTextSize - n);
}

// Reads a 260-byte text field up to its first zero, never past the field.
inline std::string RampaBlockGetText(const void* view, std::size_t offset) {
  const auto* field = static_cast<const char*>(view) + offset;
  const void* zero = std::memchr(field, 0, kRampaTextSize);
  const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : kRampaTextSize;
  return std::string(field, n);
}
