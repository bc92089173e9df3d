#include "wincap/LogFindSearch.h"

#include <pthread.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "wincap/PacketLogSet.h"

#include "wincap/DecodedPacket.h"
#include "wincap/LogPageSize.h"
#include "wincap/PacketBytes.h"

namespace {

constexpr std::size_t kIpHeader = 14;  // the Ethernet header comes first
constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kProgressStep = std::int64_t{1} << 20;  // bytes

std::string RowKey(const std::string& matched, std::int32_t size) {
  std::string key = matched;
  key.push_back('\0');
  key += std::to_string(size);
  return key;
}

}  // namespace

LogFindSearch::LogFindSearch(LogFindCriteria criteria, LONG pageSize)
    : m_criteria(std::move(criteria)),
      m_pageSize(ClampLogPageSize(pageSize)),
      m_workers(static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u))) {}

std::string LogFindSearch::TypeText(std::int32_t protocol, bool ipv6) {
  const char* type = protocol == 6 ? "TCP" : protocol == 17 ? "UDP" : protocol == 1 ? "ICMP" : "IP";
  return ipv6 ? std::string(type) + "6" : type;
}

std::int32_t LogFindSearch::ProtocolOf(const std::string& typeText) {
  const std::string_view type = std::string_view(typeText).substr(0, typeText.size() - typeText.ends_with('6'));
  if (type == "TCP") return 6;
  if (type == "UDP") return 17;
  if (type == "ICMP") return 1;
  return 0;
}

bool LogFindSearch::IsDistinctIp(const std::string& matched, std::int32_t size) const {
  return m_rows.find(RowKey(matched, size)) == m_rows.end();
}

bool LogFindSearch::Evaluate(const PacketLogBlockReader::Record& record, Candidate& candidate) const {
  const auto length = static_cast<std::size_t>(record.header.dataLength);
  const PacketBytes bytes(record.data, length);
  const bool ipv6 = IsIpv6Frame(record.data, static_cast<std::uint32_t>(length), kIpHeader);
  DecodedPacket packet;
  if (ipv6) {
    // Its size, upper protocol and addresses as the packet pane decodes them.
    DecodeFields(record.data, static_cast<std::uint32_t>(length), kIpHeader, packet);
    static constexpr std::int32_t kProtocols[] = {0, 1, 0, 6, 17};  // by type code
    candidate.find.size = packet.size;
    candidate.find.protocol = kProtocols[packet.typeCode];
  } else {
    std::uint16_t size = 0;
    std::uint8_t protocol = 0;
    bytes.Be16(kIpHeader + 2, size);  // a record too short for them has size 0 and type "IP"
    bytes.U8(kIpHeader + 9, protocol);
    candidate.find.size = size;
    candidate.find.protocol = protocol == 6 || protocol == 17 || protocol == 1 ? protocol : 0;
  }
  candidate.find.position = static_cast<std::int32_t>(record.position);
  candidate.ipv6 = ipv6;

  // An IPv6 packet's addresses are those of its bytes (the header texts of an IPv6 record written
  // before IPv6 was decoded are not its addresses); an address criterion of the other family
  // matches nothing.
  candidate.ip = false;
  if (m_criteria.IsIpSet()) {
    if (!ipv6)
      candidate.ip = m_criteria.FindIp(record.header, &candidate.ipMatched);
    else if (packet.hasSource && packet.hasDestination)
      candidate.ip = m_criteria.FindIp6(packet.source6.data(), packet.destination6.data(), &candidate.ipMatched);
  }
  // The other criteria name the row only when the IP one does not, or when "distinct" may set
  // the IP match aside.
  if (!candidate.ip || m_distinct.load(std::memory_order_relaxed)) {
    std::string& matched = candidate.otherMatched;
    candidate.other = (m_criteria.IsTextSet() && m_criteria.FindTextA(record.data, length, &matched)) ||
                      (m_criteria.IsHexSet() && m_criteria.FindHex(record.data, length, &matched)) ||
                      (m_criteria.IsSizeSet() && m_criteria.FindPktSize(candidate.find.size, &matched));
  }
  return candidate.ip || candidate.other;
}

bool LogFindSearch::Emit(Candidate&& candidate, std::int64_t base, const std::function<void(LogFindHit&&)>& onHit) {
  LogFindHit hit;
  hit.find = candidate.find;
  if (candidate.ip && (!m_distinct.load(std::memory_order_relaxed) || IsDistinctIp(candidate.ipMatched, hit.find.size)))
    hit.matched = std::move(candidate.ipMatched);
  else if (candidate.other)
    hit.matched = std::move(candidate.otherMatched);
  else
    return false;
  const std::int64_t index = m_recordBase + base + candidate.index;
  hit.file = m_file;
  hit.ipv6 = candidate.ipv6;
  hit.find.page = static_cast<std::int32_t>(index / m_pageSize);
  hit.find.packet = static_cast<std::int32_t>(index % m_pageSize);
  m_rows.insert(RowKey(hit.matched, hit.find.size));
  onHit(std::move(hit));
  return true;
}

LogFindSearch::Walked LogFindSearch::Walk(PacketLogBlockReader& reader, std::int64_t until, const Sink& sink,
                                          const Halt& halt, std::atomic<std::int64_t>* walked) const {
  Walked done;
  const std::int64_t start = reader.Position();
  std::int64_t counted = start;  // bytes already added to walked
  PacketLogBlockReader::Record record;
  for (;;) {
    if (reader.Position() >= until) {
      done.arrived = true;
      break;
    }
    if (halt.IsSet() || !reader.Next(record)) break;
    Candidate candidate;
    if (Evaluate(record, candidate)) {
      candidate.index = done.records;
      sink(std::move(candidate));
    }
    ++done.records;
    // The progress is shared by the parts: added to in steps, not for every record.
    if (reader.Position() - counted >= kProgressStep) {
      walked->fetch_add(reader.Position() - counted, std::memory_order_relaxed);
      counted = reader.Position();
    }
  }
  walked->fetch_add(reader.Position() - counted, std::memory_order_relaxed);
  done.end = reader.Position();
  return done;
}

// One later part of the log, walked on a thread of its own while the parts before it are walked.
class LogFindSearch::Part {
 public:
  Part(const LogFindSearch& search, const PacketLogBlockReader& log, std::int64_t start, std::int64_t until,
       const std::atomic<bool>* stop, std::atomic<std::int64_t>* walked)
      : m_start(start), m_halt{stop, &m_abort} {
    if (!m_reader.OpenLike(log)) return;
    m_reader.SeekTo(start);
    try {
      m_thread = std::thread([this, &search, until, walked] {
        pthread_setname_np(pthread_self(), "log search");
        m_walked = search.Walk(m_reader, until, [this](Candidate&& found) { m_found.push_back(std::move(found)); },
                               m_halt, walked);
      });
    } catch (const std::system_error&) {
      // No thread: the walk before it goes on over this part.
    }
  }
  ~Part() {
    m_abort.store(true, std::memory_order_relaxed);
    Join();
  }
  Part(const Part&) = delete;
  Part& operator=(const Part&) = delete;

  // Waits for the walk; false when there was none.
  bool Join() {
    if (!m_thread.joinable()) return m_joined;
    m_thread.join();
    m_joined = true;
    return true;
  }
  std::int64_t Start() const { return m_start; }
  const Walked& Result() const { return m_walked; }
  std::vector<Candidate>& Found() { return m_found; }

 private:
  std::int64_t m_start;
  std::atomic<bool> m_abort{false};
  Halt m_halt;
  PacketLogBlockReader m_reader;
  std::vector<Candidate> m_found;
  Walked m_walked;
  bool m_joined = false;
  std::thread m_thread;
};

int LogFindSearch::PartsFor(std::int64_t length) const {
  if (length <= 0) return 1;
  return static_cast<int>(std::clamp<std::int64_t>(length / kMinPartBytes, 1, m_workers));
}

long LogFindSearch::Run(PacketLogBlockReader& reader, const std::function<void(LogFindHit&&)>& onHit,
                        const std::atomic<bool>* stop, std::atomic<std::int64_t>* progress) {
  m_rows.clear();
  m_recordBase = 0;
  m_file = 0;
  std::int64_t records = 0;
  return RunFile(reader, onHit, stop, progress, 0, records);
}

long LogFindSearch::RunSet(const std::string& first, const std::function<void(LogFindHit&&)>& onHit,
                           const std::atomic<bool>* stop, std::atomic<std::int64_t>* progress) {
  m_rows.clear();
  m_recordBase = 0;
  long rows = 0;
  std::int64_t bytesBefore = 0;
  for (const PacketLogSet::Member& member : PacketLogSet::Files(first)) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) break;
    PacketLogBlockReader reader;
    // A file the ring removed since the list was taken is passed over.
    if (!reader.Open(member.path)) continue;
    m_file = member.number;
    std::int64_t records = 0;
    rows += RunFile(reader, onHit, stop, progress, bytesBefore, records);
    m_recordBase += records;
    bytesBefore += member.bytes;
  }
  return rows;
}

long LogFindSearch::RunFile(PacketLogBlockReader& reader, const std::function<void(LogFindHit&&)>& onHit,
                            const std::atomic<bool>* stop, std::atomic<std::int64_t>* progress,
                            std::int64_t bytesBefore, std::int64_t& records) {
  std::atomic<std::int64_t> own{0};
  std::atomic<std::int64_t>* walked = progress != nullptr ? progress : &own;
  walked->store(bytesBefore + reader.Position(), std::memory_order_relaxed);
  long rows = 0;
  std::int64_t base = 0;  // records before the part whose rows are given next
  const auto rowsFrom = [&](std::int64_t first) {
    return [&, first](Candidate&& found) { rows += Emit(std::move(found), first, onHit) ? 1 : 0; };
  };

  // The later parts start at the first header in their share of the file.
  std::vector<std::int64_t> starts;
  const std::int64_t length = reader.Length();
  const int parts = PartsFor(length);
  PacketLogBlockReader probe;
  if (parts > 1 && probe.OpenLike(reader)) {
    for (int k = 1; k < parts; ++k) {
      const std::int64_t from = std::max(length / parts * k, starts.empty() ? reader.Position() + 1 : starts.back() + 1);
      const std::int64_t at = probe.FindHeaderFrom(from, length / parts * (k + 1));
      if (at > 0) starts.push_back(at);
    }
  }
  const auto untilAfter = [&](std::size_t k) { return k < starts.size() ? starts[k] : kNoEnd; };
  std::vector<std::unique_ptr<Part>> later;
  for (std::size_t k = 0; k < starts.size(); ++k)
    later.push_back(std::make_unique<Part>(*this, reader, starts[k], untilAfter(k + 1), stop, walked));

  const Halt halt{stop, nullptr};
  Walked at = Walk(reader, untilAfter(0), rowsFrom(base), halt, walked);
  for (std::size_t k = 0; k < later.size() && at.arrived; ++k) {
    base += at.records;
    Part& part = *later[k];
    if (part.Join() && at.end == part.Start()) {
      for (Candidate& found : part.Found()) rows += Emit(std::move(found), base, onHit) ? 1 : 0;
      at = part.Result();
    } else {
      // The part began inside a packet, or could not be walked: the walk goes on over it.
      reader.SeekTo(at.end);
      at = Walk(reader, untilAfter(k + 1), rowsFrom(base), halt, walked);
    }
  }
  walked->store(bytesBefore + at.end, std::memory_order_relaxed);
  records = base + at.records;
  return rows;
}
