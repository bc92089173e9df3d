// The engine's statistics reply as the console reads it from the shared block's payload.
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "controls/firewall/RampaStatisticsReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto payload = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
  if (size > 0) std::memcpy(payload.get(), data, size);
  const RampaStatisticsReply reply = RampaStatisticsReply::Parse(payload.get(), size);
  // Each entry has its part in both areas, and the first area begins after the lead.
  const std::size_t n = reply.entries.size();
  fuzz::Check(reply.status == RampaStatisticsReply::Status::Ok || n == 0, "entries only from a reply that was read");
  fuzz::Check(n == 0 || (RampaStatisticsReply::kFirstArea + RampaStatisticsReply::kLeadSize +
                             n * RampaStatisticsReply::kFirstEntrySize <= size &&
                         RampaStatisticsReply::kSecondAreaBase + n * RampaStatisticsReply::kSecondEntrySize <= size),
              "no more entries than the payload holds");
  return 0;
}
