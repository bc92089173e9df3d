#include "controls/packets/PacketFilterSet.h"

namespace {

constexpr const char* kListNames[PacketFilterSet::kListCount] = {
    "SourceIpMustBe", "SourceIpMustNotBe", "SourcePortMustBe", "SourcePortMustNotBe",
    "DestIpMustBe",   "DestIpMustNotBe",   "DestPortMustBe",   "DestPortMustNotBe",
};

std::string CheckText(const char* name, const std::string& text) {
  if (text.size() <= PacketFilterSet::kMaxText) return {};
  return std::string("The text \"") + name + "\" is " + std::to_string(text.size()) +
         " bytes long; a filter text holds at most " + std::to_string(PacketFilterSet::kMaxText) + ".";
}

}  // namespace

const char* PacketFilterSet::ListName(FilterList which) {
  const int index = static_cast<int>(which);
  return index >= 0 && index < kListCount ? kListNames[index] : "";
}

bool PacketFilterSet::IsPortList(FilterList which) {
  switch (which) {
    case FilterList::SourcePortMustBe:
    case FilterList::SourcePortMustNotBe:
    case FilterList::DestPortMustBe:
    case FilterList::DestPortMustNotBe: return true;
    default: return false;
  }
}

std::string PacketFilterSet::CheckTexts() const {
  std::string problem = CheckText("MustContain", mustContain);
  if (problem.empty()) problem = CheckText("MustNotContain", mustNotContain);
  return problem;
}
