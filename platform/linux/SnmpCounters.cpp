#include "platform/linux/SnmpCounters.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

std::string_view NextWord(std::string_view& line) {
  std::size_t start = 0;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  std::size_t end = start;
  while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
  std::string_view word = line.substr(start, end - start);
  line.remove_prefix(end);
  return word;
}

std::optional<std::uint64_t> ParseNumber(std::string_view word) {
  bool negative = false;
  if (!word.empty() && word[0] == '-') {
    negative = true;
    word.remove_prefix(1);
  }
  if (word.empty() || word.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return negative ? ~value + 1 : value;
}

}  // namespace

std::optional<SnmpCounters> SnmpCounters::Read(const char* path, Layout layout) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // The kernel prints these files afresh on each read; one large read takes all of them.
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return Parse(text, layout);
}

SnmpCounters SnmpCounters::Parse(std::string_view text, Layout layout) {
  switch (layout) {
    case Layout::Table:
      return ParseTable(text);
    case Layout::Pairs:
      return ParsePairs(text);
    case Layout::Lines:
      return ParseLines(text);
  }
  return SnmpCounters{};
}

SnmpCounters SnmpCounters::ParseLines(std::string_view text) {
  SnmpCounters counters;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    const std::string_view name = NextWord(line);
    if (name.empty()) continue;
    const std::string_view value = NextWord(line);
    // A line with more than a name and its value is not one of these counters.
    const bool alone = NextWord(line).empty();
    counters.m_counters.push_back(
        Counter{std::string(), std::string(name), value.empty() || !alone ? std::nullopt : ParseNumber(value)});
  }
  return counters;
}

SnmpCounters SnmpCounters::ParsePairs(std::string_view text) {
  SnmpCounters counters;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    const std::string group(line.substr(0, colon));
    line.remove_prefix(colon + 1);
    for (;;) {
      const std::string_view name = NextWord(line);
      if (name.empty()) break;
      const std::string_view value = NextWord(line);
      counters.m_counters.push_back(
          Counter{group, std::string(name), value.empty() ? std::nullopt : ParseNumber(value)});
    }
  }
  return counters;
}

SnmpCounters SnmpCounters::ParseTable(std::string_view text) {
  SnmpCounters counters;
  while (!text.empty()) {
    std::string_view names = NextLine(text);
    const std::size_t colon = names.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    const std::string_view group = names.substr(0, colon);
    // The value line must belong to the same group; otherwise the header stands alone and the
    // next line is taken as a header in turn.
    std::string_view peek = text;
    std::string_view values = NextLine(peek);
    if (values.substr(0, colon + 1) != names.substr(0, colon + 1)) continue;
    text = peek;
    names.remove_prefix(colon + 1);
    values.remove_prefix(colon + 1);
    for (;;) {
      const std::string_view name = NextWord(names);
      const std::string_view value = NextWord(values);
      if (name.empty()) break;
      counters.m_counters.push_back(
          Counter{std::string(group), std::string(name), value.empty() ? std::nullopt : ParseNumber(value)});
    }
  }
  return counters;
}

std::optional<std::uint64_t> SnmpCounters::Find(std::string_view group, std::string_view name) const {
  for (const Counter& counter : m_counters)
    if (counter.group == group && counter.name == name) return counter.value;
  return std::nullopt;
}

std::uint32_t SnmpCounters::Get32(std::string_view group, std::string_view name) const {
  return static_cast<std::uint32_t>(Find(group, name).value_or(0));
}

std::vector<std::pair<std::string_view, std::uint64_t>> SnmpCounters::WithPrefix(std::string_view group,
                                                                                 std::string_view prefix) const {
  std::vector<std::pair<std::string_view, std::uint64_t>> found;
  for (const Counter& counter : m_counters) {
    const std::string_view name = counter.name;
    if (counter.group == group && counter.value && name.substr(0, prefix.size()) == prefix)
      found.emplace_back(name.substr(prefix.size()), *counter.value);
  }
  return found;
}
