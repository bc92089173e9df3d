// The registry store's text: any text parses (damaged lines are skipped) and what it yields is
// written and read back to the same text; the store reads the same file through the profile.
#include <string_view>

#include "FuzzInput.h"
#include "platform/Registry.h"
#include "platform/RegistryTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const RegistryTree tree = RegistryTree::Parse(text);
  const std::string written = tree.Serialize();
  fuzz::Check(RegistryTree::Parse(written).Serialize() == written, "the store's text reads back as written");

  const std::string path = fuzz::WriteFile("registry.reg", data, size);
  Registry store(path);
  (void)store;
  return 0;
}
