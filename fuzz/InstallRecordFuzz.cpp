// The record an installation leaves for its uninstall, as text of any content: a record with any
// line that cannot be read is refused whole, and one that is read is written and read back the
// same, so an uninstall never acts on a path the record did not hold as one whole field.
#include <string_view>

#include "FuzzInput.h"
#include "setup/InstallRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto record = InstallRecord::Parse(std::string_view(reinterpret_cast<const char*>(data), size), error);
  fuzz::Check(record.has_value() == error.empty(), "a refused record says why");
  if (!record) return 0;
  const std::string written = record->Serialize();
  const auto again = InstallRecord::Parse(written, error);
  fuzz::Check(again.has_value(), "what is written reads back");
  fuzz::Check(again->Serialize() == written, "the record reads back as written");
  fuzz::Check(again->files == record->files && again->folders == record->folders, "every path reads back whole");
  for (const std::string& path : record->files)
    fuzz::Check(path.find_first_of("\t\n") == std::string::npos, "a path holds no field or line break");
  return 0;
}
