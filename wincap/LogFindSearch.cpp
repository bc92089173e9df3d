#include "wincap/LogFindSearch.h"

#include "wincap/LogPageSize.h"
#include "wincap/PacketBytes.h"

namespace {

constexpr std::size_t kIpHeader = 14;  // the Ethernet header comes first

std::string RowKey(const std::string& matched, std::int32_t size) {
  std::string key = matched;
  key.push_back('\0');
  key += std::to_string(size);
  return key;
}

}  // namespace

LogFindSearch::LogFindSearch(LogFindCriteria criteria, LONG pageSize)
    : m_criteria(std::move(criteria)), m_pageSize(ClampLogPageSize(pageSize)) {}

const char* LogFindSearch::TypeText(std::int32_t protocol) {
  switch (protocol) {
    case 6:
      return "TCP";
    case 17:
      return "UDP";
    case 1:
      return "ICMP";
    default:
      return "IP";
  }
}

std::int32_t LogFindSearch::ProtocolOf(const std::string& typeText) {
  if (typeText == "TCP") return 6;
  if (typeText == "UDP") return 17;
  if (typeText == "ICMP") return 1;
  return 0;
}

bool LogFindSearch::IsDistinctIp(const std::string& matched, std::int32_t size) const {
  return m_rows.find(RowKey(matched, size)) == m_rows.end();
}

void LogFindSearch::NoteRow(const LogFindHit& hit) { m_rows.insert(RowKey(hit.matched, hit.find.size)); }

bool LogFindSearch::Match(const PacketLogBlockReader::Record& record, LogFindHit& hit) {
  const auto length = static_cast<std::size_t>(record.header.dataLength);
  const PacketBytes bytes(record.data, length);
  std::uint16_t size = 0;
  std::uint8_t protocol = 0;
  bytes.Be16(kIpHeader + 2, size);  // a record too short for them has size 0 and type "IP"
  bytes.U8(kIpHeader + 9, protocol);
  hit.find.size = size;
  hit.find.protocol = protocol == 6 || protocol == 17 || protocol == 1 ? protocol : 0;
  hit.find.position = static_cast<std::int32_t>(record.position);

  if (m_criteria.IsIpSet() && m_criteria.FindIp(record.header, &hit.matched) &&
      (!m_distinct.load(std::memory_order_relaxed) || IsDistinctIp(hit.matched, hit.find.size)))
    return true;
  if (m_criteria.IsTextSet() && m_criteria.FindTextA(record.data, length, &hit.matched)) return true;
  if (m_criteria.IsHexSet() && m_criteria.FindHex(record.data, length, &hit.matched)) return true;
  if (m_criteria.IsSizeSet() && m_criteria.FindPktSize(hit.find.size, &hit.matched)) return true;
  return false;
}

long LogFindSearch::Run(PacketLogBlockReader& reader, const std::function<void(LogFindHit&&)>& onHit,
                        const std::atomic<bool>* stop, std::atomic<std::int64_t>* progress) {
  m_rows.clear();
  long rows = 0;
  std::int64_t index = 0;  // records walked
  PacketLogBlockReader::Record record;
  while ((stop == nullptr || !stop->load(std::memory_order_relaxed)) && reader.Next(record)) {
    LogFindHit hit;
    if (Match(record, hit)) {
      hit.find.page = static_cast<std::int32_t>(index / m_pageSize);
      hit.find.packet = static_cast<std::int32_t>(index % m_pageSize);
      NoteRow(hit);
      onHit(std::move(hit));
      ++rows;
    }
    ++index;
    if (progress) progress->store(reader.Position(), std::memory_order_relaxed);
  }
  if (progress) progress->store(reader.Position(), std::memory_order_relaxed);
  return rows;
}
