// The packet log search and page listing over logs written by the packet log writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <tuple>
#include <thread>

#include "TempFolder.h"
#include "tests/wincap/PacketLogTestSupport.h"
#include "wincap/LogFindSearch.h"
#include "wincap/LogPagesScan.h"

namespace {

using log_test::Packet;

std::vector<LogFindHit> Search(const std::string& path, const LogFindTexts& texts, bool distinct = false,
                               LONG pageSize = 256, int workers = 1) {
  PacketLogBlockReader reader;
  EXPECT_TRUE(reader.Open(path));
  LogFindSearch search(LogFindCriteria(texts), pageSize);
  search.SetDistinct(distinct);
  search.SetWorkers(workers);
  std::vector<LogFindHit> hits;
  search.Run(reader, [&](LogFindHit&& hit) { hits.push_back(std::move(hit)); });
  return hits;
}

std::vector<std::string> Matched(const std::vector<LogFindHit>& hits) {
  std::vector<std::string> texts;
  for (const auto& hit : hits) texts.push_back(hit.matched);
  return texts;
}

std::vector<int> Sizes(const std::vector<LogFindHit>& hits) {
  std::vector<int> sizes;
  for (const auto& hit : hits) sizes.push_back(hit.find.size);
  return sizes;
}

class LogFindSearchTest : public ::testing::Test {
 protected:
  TempFolder m_folder;
  std::string m_log = m_folder.File("PelorinProLogPkt.rec");
};

}  // namespace

TEST(LogFindPattern, FindsTheFirstFittingStartAsANaiveSearchDoes) {
  // Bytes that fold to letters under a careless | 0x20 ('@' '[' '{' '`') test the folding.
  const std::string alphabet = "aAbBgG@[`{ \x01\xc7\xe7";
  std::mt19937 random(7);
  auto naive = [](const std::string& data, const std::string& pattern, bool fold) -> std::ptrdiff_t {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c | 0x20 : c; };
    for (std::size_t i = 0; i + pattern.size() <= data.size(); ++i) {
      std::size_t k = 0;
      while (k < pattern.size() && (fold ? lower(data[i + k]) == lower(pattern[k]) : data[i + k] == pattern[k])) ++k;
      if (k == pattern.size()) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  };
  for (int round = 0; round < 4000; ++round) {
    std::string data(random() % 100, ' ');
    for (char& c : data) c = alphabet[random() % alphabet.size()];
    std::string pattern(1 + random() % 5, ' ');
    for (char& c : pattern) c = alphabet[random() % alphabet.size()];
    if (round % 3 == 0 && data.size() >= pattern.size())  // often one that ends with the data
      data.replace(data.size() - pattern.size(), pattern.size(), pattern);
    const bool fold = round % 2 == 0;
    LogFindPattern search;
    search.Set(pattern, fold);
    ASSERT_EQ(search.Find(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
              naive(data, pattern, fold))
        << "data '" << data << "' pattern '" << pattern << "' fold " << fold;
  }
  LogFindPattern empty;
  empty.Set("", true);
  EXPECT_EQ(empty.Find(reinterpret_cast<const std::uint8_t*>("abc"), 3), -1);
}

TEST_F(LogFindSearchTest, RecordsAreNumberedByPageAndTheFirstCriterionThatMatchesNamesTheRow) {
  const auto positions = log_test::Append(m_log, log_test::Numbered(600));
  ASSERT_EQ(positions.size(), 600u);

  // Every record matches the size criterion: one row each, numbered from 0 within pages of 256.
  auto hits = Search(m_log, {.sizeMin = "0"});
  ASSERT_EQ(hits.size(), 600u);
  EXPECT_EQ(hits[255].find.page, 0);
  EXPECT_EQ(hits[255].find.packet, 255);
  EXPECT_EQ(hits[256].find.page, 1);  // the 257th record
  EXPECT_EQ(hits[256].find.packet, 0);
  EXPECT_EQ(hits[599].find.page, 2);
  EXPECT_EQ(hits[599].find.packet, 87);
  EXPECT_EQ(hits[599].find.position, positions[599]);
  EXPECT_EQ(hits[599].find.protocol, 6);
  EXPECT_EQ(hits[599].matched, std::to_string(hits[599].find.size));

  // IP before text before size: one row per record, named by the IP when the IP matches.
  hits = Search(m_log, {.text = "PACKET 30", .ipFrom = "10.0.0.3", .sizeMin = "0"}, false, 25);
  ASSERT_EQ(hits.size(), 600u);
  EXPECT_EQ(hits[3].matched, "10.0.0.3");
  EXPECT_EQ(hits[30].matched, "packet 30");
  EXPECT_EQ(hits[31].matched, "29");
  EXPECT_EQ(hits[30].find.page, 1);
  EXPECT_EQ(hits[30].find.packet, 5);
}

TEST_F(LogFindSearchTest, TextIgnoresCaseAndHexMatchesPairsOfDigitsUpToTheLastByte) {
  log_test::Append(m_log, {{.payload = "xx GET /"},
                           {.payload = "Get it"},
                           {.payload = "forget"},  // ends with the record's last byte
                           {.payload = "ge"},      // would need a byte past the end
                           {.payload = "no match"}});
  auto hits = Search(m_log, {.text = "get"});
  EXPECT_EQ(Matched(hits), (std::vector<std::string>{"GET", "Get", "get"}));

  hits = Search(m_log, {.hex = "47 45 54"});  // "GET", exactly: blanks go, case counts
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].matched, "474554");
  EXPECT_EQ(Search(m_log, {.hex = "6765747"}).size(), 1u);  // the odd last digit is ignored
  EXPECT_TRUE(Search(m_log, {.hex = "67G5"}).empty());        // a digit that is not hex
  EXPECT_TRUE(Search(m_log, {.hex = "6"}).empty());
}

TEST_F(LogFindSearchTest, IpRangeSizeRulesAndDistinct) {
  auto packets = log_test::Numbered(300);
  packets.push_back({.source = "192.168.1.1", .destination = "10.0.0.9"});
  log_test::Append(m_log, packets);

  auto hits = Search(m_log, {.ipFrom = "10.0.0.0", .ipTo = "10.0.0.255"});
  ASSERT_EQ(hits.size(), 257u);
  EXPECT_EQ(hits[255].matched, "10.0.0.255");
  EXPECT_EQ(hits[256].matched, "10.0.0.9");  // by its destination
  // Only IP from: the records that have it as source or destination.
  EXPECT_EQ(Search(m_log, {.ipFrom = "10.1.0.1"}).size(), 300u);
  // IP to below IP from is an empty range; IP from alone still matches exactly.
  EXPECT_EQ(Matched(Search(m_log, {.ipFrom = "10.0.0.7", .ipTo = "10.0.0.1"})), (std::vector<std::string>{"10.0.0.7"}));

  std::filesystem::remove(m_log);
  log_test::Append(m_log, {{.size = 40}, {.size = 50}, {.size = 60}, {.size = 100}, {.size = 200}, {.size = 40}});
  EXPECT_EQ(Sizes(Search(m_log, {.sizeMin = "60", .sizeMax = "40"})), (std::vector<int>{40, 60, 40}));
  EXPECT_EQ(Sizes(Search(m_log, {.sizeMin = "100"})), (std::vector<int>{100, 200}));
  EXPECT_EQ(Sizes(Search(m_log, {.sizeMax = "50"})), (std::vector<int>{40, 50, 40}));
  EXPECT_EQ(Sizes(Search(m_log, {.sizeMin = "50", .sizeMax = "100"})), (std::vector<int>{50, 60, 100}));

  // Distinct: the second packet from the same address with the same size is left out.
  EXPECT_EQ(Sizes(Search(m_log, {.ipFrom = "10.0.0.1"}, true)), (std::vector<int>{40, 50, 60, 100, 200}));
  EXPECT_EQ(Search(m_log, {.ipFrom = "10.0.0.1"}, false).size(), 6u);
}

TEST_F(LogFindSearchTest, AnIpv6AddressOrRangeFindsIpv6PacketsByTheirBytesAndNoIpv4Ones) {
  // 40 packets from 2001:db8::<i> to a long address (no header field holds it), then IPv4 ones.
  std::vector<Packet> packets;
  for (int i = 0; i < 40; ++i) {
    char source[32];
    std::snprintf(source, sizeof source, "2001:db8::%x", i);
    packets.push_back({.protocol = 17, .source = source, .destination = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:1",
                       .payload = "datagram " + std::to_string(i)});
  }
  for (const Packet& p : log_test::Numbered(3)) packets.push_back(p);
  log_test::Append(m_log, packets);

  auto hits = Search(m_log, {.ipFrom = "2001:db8::10", .ipTo = "2001:db8::1f"});
  ASSERT_EQ(hits.size(), 16u);
  EXPECT_EQ(hits.front().matched, "2001:db8::10");
  EXPECT_EQ(hits.back().matched, "2001:db8::1f");
  EXPECT_EQ(hits.front().find.size, 40 + 11);  // the payload length + 40
  EXPECT_EQ(hits.front().find.protocol, 17);
  // The row names the family, and the text reads back to the protocol.
  ASSERT_TRUE(hits.front().ipv6);
  EXPECT_EQ(LogFindSearch::TypeText(17, true), "UDP6");
  EXPECT_EQ(LogFindSearch::ProtocolOf("UDP6"), 17);
  // By the destination, in its shortest text, and as 128-bit numbers: ::a < ::10 < ::1:0.
  EXPECT_EQ(Matched(Search(m_log, {.ipFrom = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:0001"}, true)),
            (std::vector<std::string>{"2001:db8:aaaa:bbbb:cccc:dddd:eeee:1", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:1"}));
  EXPECT_EQ(Search(m_log, {.ipFrom = "2001:db8::a", .ipTo = "2001:db8::1:0"}).size(), 30u);
  // A criterion of the other family matches nothing, however the bytes read as the other.
  const auto ipv4 = Search(m_log, {.ipFrom = "0.0.0.0", .ipTo = "255.255.255.255"});
  ASSERT_EQ(ipv4.size(), 3u);
  EXPECT_FALSE(ipv4.front().ipv6);
  EXPECT_EQ(Search(m_log, {.ipFrom = "::", .ipTo = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}).size(), 40u);
}

TEST_F(LogFindSearchTest, ADamagedRecordEndsTheSearchAndTheListingWithWhatWasFound) {
  const auto packets = log_test::Numbered(600);
  struct Damage {
    const char* what;
    std::size_t offset;  // from record 300's header
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Damage> damages = {
      {"marker", 2, {'X'}},
      {"negative length", 88, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"length above 65535", 88, {0x00, 0x00, 0x01, 0x00}},
      {"length past the end of the file", 88, {0xFF, 0xFF, 0x00, 0x00}},
  };
  for (const Damage& damage : damages) {
    std::filesystem::remove(m_log);
    const auto positions = log_test::Append(m_log, packets);
    FILE* f = std::fopen(m_log.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, positions[300] + static_cast<long>(damage.offset), SEEK_SET);
    std::fwrite(damage.bytes.data(), 1, damage.bytes.size(), f);
    std::fclose(f);

    EXPECT_EQ(Search(m_log, {.sizeMin = "0"}).size(), 300u) << damage.what;
    PacketLogBlockReader reader;
    ASSERT_TRUE(reader.Open(m_log));
    std::vector<LogPageRow> pages;
    const LogPagesTotals totals = ListLogPages(reader, 256, [&](LogPageRow&& row) { pages.push_back(row); });
    EXPECT_EQ(totals.pages, 2) << damage.what;
    EXPECT_EQ(totals.records, 300) << damage.what;
  }
  // A record cut short at the end of the file (a writer still appending) ends it as well.
  std::filesystem::remove(m_log);
  const auto positions = log_test::Append(m_log, packets);
  std::filesystem::resize_file(m_log, static_cast<std::uintmax_t>(positions[599] + 120));
  EXPECT_EQ(Search(m_log, {.sizeMin = "0"}).size(), 599u);
}

TEST_F(LogFindSearchTest, PagesStartEveryPageSizeRecordsAndPageZeroAtTheFirst) {
  PacketLogBlockReader reader;
  const auto list = [&](LONG pageSize) {
    EXPECT_TRUE(reader.Open(m_log));
    std::vector<LogPageRow> pages;
    const LogPagesTotals totals = ListLogPages(reader, pageSize, [&](LogPageRow&& row) { pages.push_back(row); });
    EXPECT_EQ(totals.pages, static_cast<long>(pages.size()));
    return std::pair{totals, pages};
  };
  log_test::Append(m_log, {});
  EXPECT_EQ(list(256).first.records, 0);

  auto positions = log_test::Append(m_log, log_test::Numbered(256));
  EXPECT_EQ(list(256).first.pages, 1);
  positions.push_back(log_test::Append(m_log, log_test::Numbered(1))[0]);
  auto [totals, pages] = list(256);
  EXPECT_EQ(totals.pages, 2);
  EXPECT_EQ(totals.records, 257);
  EXPECT_EQ(pages[0].page.position, 0);
  EXPECT_EQ(pages[1].page.page, 1);
  EXPECT_EQ(pages[1].page.position, positions[256]);
  EXPECT_EQ(pages[1].time, "12/06/26 07:50:10:100");
  EXPECT_EQ(list(10).first.pages, 11);  // clamped to 25 records a page
}

TEST_F(LogFindSearchTest, ALogThatGrowsWhileItIsSearchedGivesWholeRecordsInOrder) {
  const auto before = log_test::Append(m_log, log_test::Numbered(2000));
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    while (writing.load()) log_test::Append(m_log, log_test::Numbered(50));
  });
  std::vector<LogFindHit> hits;
  for (int round = 0; round < 5; ++round) hits = Search(m_log, {.text = "packet"});
  writing.store(false);
  writer.join();

  ASSERT_GE(hits.size(), before.size());
  PacketLogFile file;
  ASSERT_TRUE(file.OpenReadOnly(m_log));
  std::vector<std::uint8_t> data(100);
  for (std::size_t i = 0; i < hits.size(); ++i) {
    if (i < before.size()) {
      ASSERT_EQ(hits[i].find.position, before[i]);
    }
    if (i > 0) {
      ASSERT_GT(hits[i].find.position, hits[i - 1].find.position);
    }
    ASSERT_GT(file.Read(hits[i].find.position, data.data(), 100, nullptr, nullptr, nullptr), 0) << i;
  }
}

TEST_F(LogFindSearchTest, WorkersOverPartsOfALargeLogGiveTheRowsOfOneWalk) {
  // 30,000 records of 1,534 bytes: four parts of more than 8 MiB each.
  constexpr int kCount = 30000;
  constexpr std::size_t kPayload = 1400, kRecord = 100 + 34 + kPayload;
  auto packets = log_test::Numbered(kCount);
  for (auto& packet : packets) {
    packet.source = "10.0.0." + std::to_string(packet.payload.size() % 7);  // repeats for "distinct"
    packet.payload.resize(kPayload, 'x');
  }
  // A header in the packet bytes that names its own position, as a part may meet first.
  const auto withFakeHeaders = [&] {
    auto faked = packets;
    for (std::size_t i = 0; i < faked.size(); ++i) {
      _LogRecMarker fake{};
      std::memcpy(fake.marker, kLogRecordMarker, sizeof kLogRecordMarker);
      fake.position = static_cast<std::uint32_t>(i * kRecord + 134 + 16);
      fake.dataLength = 60;
      std::memcpy(faked[i].payload.data() + 16, &fake, sizeof fake);
    }
    return faked;
  };
  const auto rows = [](const std::vector<LogFindHit>& hits) {
    std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::string>> shown;
    for (const auto& hit : hits) shown.emplace_back(hit.find.position, hit.find.page, hit.find.packet, hit.matched);
    return shown;
  };
  for (int variant = 0; variant < 3; ++variant) {
    std::filesystem::remove(m_log);
    const auto positions = log_test::Append(m_log, variant == 1 ? withFakeHeaders() : packets);
    ASSERT_EQ(positions.size(), static_cast<std::size_t>(kCount));
    ASSERT_EQ(positions[1], static_cast<LONG>(kRecord));
    if (variant == 2) {  // a damaged record in the third part ends the walk there
      FILE* f = std::fopen(m_log.c_str(), "r+b");
      std::fseek(f, positions[20000] + 2, SEEK_SET);
      std::fputc('X', f);
      std::fclose(f);
    }
    for (const LogFindTexts& texts : std::vector<LogFindTexts>{
             {.text = "PACKET 12"}, {.ipFrom = "10.0.0.0", .ipTo = "10.0.0.255", .sizeMin = "1400"}, {.sizeMin = "0"}}) {
      const auto one = Search(m_log, texts, true, 256, 1);
      EXPECT_EQ(rows(Search(m_log, texts, true, 256, 4)), rows(one)) << "variant " << variant << " " << texts.text;
      EXPECT_EQ(one.empty(), false);
      if (!texts.sizeMin.empty() && texts.ipFrom.empty()) {
        EXPECT_EQ(one.size(), variant == 2 ? 20000u : static_cast<std::size_t>(kCount));
      }
    }
  }
}
