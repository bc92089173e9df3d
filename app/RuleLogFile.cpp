#include "app/RuleLogFile.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/RuleRange.h"

namespace {

constexpr std::int64_t kRecordSize = sizeof(_FirewallRuleLogRecord);

// Reads whole records from a position; a partial one at the end is left.
bool ReadRecord(int fd, std::int64_t position, _FirewallRuleLogRecord* record) {
  auto* bytes = reinterpret_cast<char*>(record);
  std::size_t done = 0;
  while (done < sizeof *record) {
    const ssize_t n =
        ::pread(fd, bytes + done, sizeof *record - done, static_cast<off_t>(position) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<_FirewallRuleLogRecord> RuleLogFile::ReadPage(const std::string& path, std::int64_t page) {
  std::vector<_FirewallRuleLogRecord> records;
  if (page < 0 || page > INT64_MAX / (kPageSize * kRecordSize)) return records;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return records;
  const std::int64_t start = page * kPageSize * kRecordSize;
  _FirewallRuleLogRecord record;
  while (records.size() < static_cast<std::size_t>(kPageSize) &&
         ReadRecord(fd, start + static_cast<std::int64_t>(records.size()) * kRecordSize, &record))
    records.push_back(record);
  ::close(fd);
  return records;
}

std::vector<RuleLogFile::PageStart> RuleLogFile::Pages(const std::string& path) {
  std::vector<PageStart> pages;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return pages;
  _FirewallRuleLogRecord record;
  for (std::int64_t page = 0; ReadRecord(fd, page * kPageSize * kRecordSize, &record); ++page)
    pages.push_back(PageStart{page, record.time});
  ::close(fd);
  return pages;
}

std::string RuleLogFile::NameText(const _FirewallRuleLogRecord& record) { return GetFieldText(record.rule.name); }

std::string RuleLogFile::RuleText(const _FirewallRuleLogRecord& record) {
  std::string text = RuleRangeText(record.rule, kRuleRangeStart);
  const std::string end = RuleRangeText(record.rule, kRuleRangeEnd);
  if (!end.empty()) text += " - " + end;
  return text;
}

std::string RuleLogFile::BlockedText(const _FirewallRuleLogRecord& record) {
  const bool ipv6 = record.family == kLogFamilyIpv6;
  const std::string address = ipv6 ? Inet6Ntop(record.blockedAddress6) : InetNtoa(record.blockedAddress);
  const std::uint16_t port = ntohs(record.blockedPort);
  return EndPointText(address, port > 0 ? std::to_string(port) : std::string());
}

std::string RuleLogFile::TimeText(const _SystemTime& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%02u/%02u/%02u %02u:%02u:%02u:%03u", time.month, time.day, time.year % 100u,
                time.hour, time.minute, time.second, time.milliseconds);
  return text;
}
