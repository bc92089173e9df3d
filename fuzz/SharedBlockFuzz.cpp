// The interface file as another process left it: any content, and any length it cuts the file
// to while a console is attached. The console's reads of the block stay inside its view, and a
// view that lost its file reads as zeros.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "FuzzInput.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::PathOf("RamparoInterfaceMem.mem");
  ::unlink(path.c_str());
  // The other attachment: it creates the block, so the console joins it and wipes nothing.
  CRamparointerfaceMem peer("fuzz", path);
  int created = 0;
  fuzz::Check(peer.MemAttach(&created) != nullptr && created == 1, "the peer creates the block");
  CRampaMem console("fuzz", path);
  auto* view = static_cast<std::uint8_t*>(console.MemAttach());
  fuzz::Check(view != nullptr, "the console joins");

  // The first byte says whether and where the peer cuts the file; the rest is its content.
  const int fd = ::open(path.c_str(), O_RDWR);
  fuzz::Check(fd >= 0, "the file opens");
  if (size > 1) fuzz::Check(::pwrite(fd, data + 1, std::min(size - 1, kRampaMappingSize), 0) >= 0, "the peer writes");
  if (size > 0 && (data[0] & 1) != 0) fuzz::Check(::ftruncate(fd, (data[0] >> 1) * 128) == 0, "the peer cuts");
  ::close(fd);

  const bool backed = console.MemCheckView();
  std::uint32_t fields = 0;
  for (std::size_t offset = 0; offset < kRampaUsedSize + 8; offset += 4) fields |= console.MemField(offset);
  fuzz::Check(backed || fields == 0, "a view without its file reads as zeros");
  if (backed) {
    for (std::size_t offset : {kRampaOffCfgFile, kRampaOffIdent, kRampaOffAppName})
      fuzz::Check(RampaBlockGetText(view, offset).size() <= kRampaTextSize, "a text stays in its field");
    const RampaStatisticsReply reply = RampaStatisticsReply::Parse(view + kRampaOffPayload, kRampaPayloadSize);
    fuzz::Check(reply.entries.size() <= kRampaPayloadSize, "a reply names no more entries than its payload");
  }
  console.MemDetach();
  peer.MemDetach();
  return 0;
}
