#include "controls/packets/PacketFilterSet.h"

namespace {

constexpr const char* kListNames[PacketFilterSet::kListCount] = {
    "SourceIpMustBe", "SourceIpMustNotBe", "SourcePortMustBe", "SourcePortMustNotBe",
    "DestIpMustBe",   "DestIpMustNotBe",   "DestPortMustBe",   "DestPortMustNotBe",
};

constexpr const char* kList6Names[PacketFilterSet::kListCount] = {
    "SourceIp6MustBe", "SourceIp6MustNotBe", "", "", "DestIp6MustBe", "DestIp6MustNotBe", "", "",
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

const char* PacketFilterSet::List6Name(FilterList which) {
  const int index = static_cast<int>(which);
  return index >= 0 && index < kListCount ? kList6Names[index] : "";
}

bool PacketFilterSet::HasIpv6() const {
  if (eitherAddress6) return true;
  for (const auto& list : lists6)
    if (!list.empty()) return true;
  return false;
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
