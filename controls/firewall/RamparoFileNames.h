#pragma once

// The names of the files the console and the firewall engine share, in the folder each is
// started from unless the engine's key names another path. Both sides take a missing path from
// here, so neither looks for a file the other never writes.
namespace RamparoFileNames {
inline constexpr char kBlockLog[] = "RamparoBlockLog.log";  // the rule log ("IpRamparoBlockLogFile")
}  // namespace RamparoFileNames
