// The record an installation leaves for its uninstall, as text of any content: lines that
// cannot be read are skipped, and what is read is written and read back the same, so an
// uninstall never acts on a path the record did not hold as one whole field.
#include <string_view>

#include "FuzzInput.h"
#include "setup/InstallRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const InstallRecord record = InstallRecord::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string written = record.Serialize();
  const InstallRecord again = InstallRecord::Parse(written);
  fuzz::Check(again.Serialize() == written, "the record reads back as written");
  fuzz::Check(again.files == record.files && again.folders == record.folders, "every path reads back whole");
  for (const std::string& path : record.files)
    fuzz::Check(path.find_first_of("\t\n") == std::string::npos, "a path holds no field or line break");
  return 0;
}
