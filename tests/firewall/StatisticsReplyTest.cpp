#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>

#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"

namespace {

using Status = RampaStatisticsReply::Status;

class StatisticsReplyTest : public ::testing::Test {
 protected:
  void SetUp() override { m_payload.fill(0); }

  void Put32(std::size_t offset, std::uint32_t value) { std::memcpy(&m_payload[offset], &value, 4); }
  void Put16(std::size_t offset, std::uint16_t value) { std::memcpy(&m_payload[offset], &value, 2); }
  void Head(std::int32_t length, std::int32_t count, std::uint32_t address) {
    Put32(0, static_cast<std::uint32_t>(length));
    Put32(4, static_cast<std::uint32_t>(count));
    Put32(8, address);
  }
  RampaStatisticsReply Parse() { return RampaStatisticsReply::Parse(m_payload.data(), m_payload.size()); }

  std::array<std::uint8_t, kRampaPayloadSize> m_payload;
};

constexpr std::uint32_t kEngine = 0x0100000A;  // 10.0.0.1 as it lies in memory

}  // namespace

TEST_F(StatisticsReplyTest, ReadsBothAreas) {
  const std::int32_t length = 68 + 2 * 48;
  Head(length, 2, kEngine);
  const std::size_t first = 20 + 68;
  Put32(first + 0, 17);
  Put32(first + 8, static_cast<std::uint32_t>(-3));
  Put32(first + 32, 6);
  Put16(first + 40, 443);
  Put16(first + 42, 51000);
  Put32(first + 48 + 0, 1);
  Put32(first + 48 + 8, 6001);
  const std::size_t second = 21 + static_cast<std::size_t>(length);  // not 4-byte aligned
  Put32(second + 0, 0x0200A8C0);
  Put32(second + 12, kEngine);
  Put32(second + 24 + 0, 0x08080808);

  const RampaStatisticsReply reply = Parse();
  ASSERT_EQ(reply.status, Status::Ok);
  EXPECT_EQ(reply.engineAddress, kEngine);
  ASSERT_EQ(reply.entries.size(), 2u);
  EXPECT_EQ(reply.entries[0].blockCount, 17u);
  EXPECT_EQ(reply.entries[0].ruleCode, -3);
  EXPECT_EQ(reply.entries[0].protocol, 6u);
  EXPECT_EQ(reply.entries[0].firstPort, 443);
  EXPECT_EQ(reply.entries[0].secondPort, 51000);
  EXPECT_EQ(reply.entries[0].firstAddress, 0x0200A8C0u);
  EXPECT_EQ(reply.entries[0].secondAddress, kEngine);
  EXPECT_EQ(reply.entries[1].ruleCode, 6001);
  EXPECT_EQ(reply.entries[1].firstAddress, 0x08080808u);
}

TEST_F(StatisticsReplyTest, RepliesWithoutContentAreIgnored) {
  for (auto [length, count, address] : {std::tuple{0, 1, kEngine}, {68, 0, kEngine}, {-1, 1, kEngine},
                                        {68, -5, kEngine}, {68 + 48, 1, 0u}}) {
    Head(length, count, address);
    EXPECT_EQ(Parse().status, Status::Ignored) << length << " " << count << " " << address;
  }
  // What an engine that made no blocks answers.
  RampaStatisticsReply::Write(m_payload.data(), m_payload.size(), kEngine, {});
  const RampaStatisticsReply none = Parse();
  EXPECT_EQ(none.status, Status::Ignored);
  EXPECT_EQ(none.engineAddress, kEngine);
  EXPECT_TRUE(none.entries.empty());
}

TEST_F(StatisticsReplyTest, ClaimsBeyondThePayloadAreRefused) {
  // Largest count whose first area still fits: 20 + 68 + n * 48 <= 8192.
  const std::int32_t fit = (8192 - 88) / 48;
  Head(68, fit, kEngine);
  EXPECT_EQ(Parse().status, Status::Ok);
  Head(68, fit + 1, kEngine);
  EXPECT_EQ(Parse().status, Status::Refused);
  // The second area must fit too: 21 + L + n * 24 <= 8192.
  Head(8192 - 21 - 24, 1, kEngine);
  EXPECT_EQ(Parse().status, Status::Ok);
  Head(8192 - 21 - 24 + 1, 1, kEngine);
  EXPECT_EQ(Parse().status, Status::Refused);
  for (auto [length, count] : {std::pair{INT_MAX, 1}, {68, INT_MAX}, {INT_MAX, INT_MAX}}) {
    Head(length, count, kEngine);
    const RampaStatisticsReply reply = Parse();
    EXPECT_EQ(reply.status, Status::Refused);
    EXPECT_TRUE(reply.entries.empty());
  }
  EXPECT_EQ(RampaStatisticsReply::Parse(nullptr, 8192).status, Status::Refused);
  EXPECT_EQ(RampaStatisticsReply::Parse(m_payload.data(), 19).status, Status::Refused);
}

TEST_F(StatisticsReplyTest, AWrittenReplyReadsBackAndStopsAtWhatThePayloadHolds) {
  std::vector<RampaStatisticsEntry> entries(200);
  for (std::size_t i = 0; i < entries.size(); ++i)
    entries[i] = {static_cast<std::uint32_t>(i + 1), -static_cast<std::int32_t>(i), 6, 80, 443,
                  static_cast<std::uint32_t>(i), 0x0200000Au};
  const std::size_t written = RampaStatisticsReply::Write(m_payload.data(), m_payload.size(), kEngine, entries);
  EXPECT_EQ(written, 112u) << "21 + 68 + n * 72 <= 8192";
  const RampaStatisticsReply reply = Parse();
  ASSERT_EQ(reply.status, Status::Ok);
  ASSERT_EQ(reply.entries.size(), written);
  const RampaStatisticsEntry& last = reply.entries.back();
  EXPECT_EQ(last.blockCount, 112u);
  EXPECT_EQ(last.ruleCode, -111);
  EXPECT_EQ(last.protocol, 6u);
  EXPECT_EQ(last.firstPort, 80);
  EXPECT_EQ(last.secondPort, 443);
  EXPECT_EQ(last.firstAddress, 111u);
  EXPECT_EQ(last.secondAddress, 0x0200000Au);
}
