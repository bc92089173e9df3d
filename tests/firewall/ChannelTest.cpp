#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "FirewallTestSupport.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"

namespace {

const char kName[] = "RamparoInterfaceMem.mem";

std::uint8_t* Bytes(void* view) { return static_cast<std::uint8_t*>(view); }

bool AllZero(const void* view, std::size_t from, std::size_t to) {
  const auto* p = static_cast<const std::uint8_t*>(view);
  for (std::size_t i = from; i < to; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

class ChannelTest : public ::testing::Test {
 protected:
  TempFolder m_folder;
  std::string m_file = m_folder.File(kName);
};

}  // namespace

TEST_F(ChannelTest, FirstAttachCreatesAndZeroesTheBlockAndSecondJoinsIt) {
  {
    std::ofstream stale(m_file, std::ios::binary);  // left over by an earlier session
    stale << std::string(20000, '\x5A');
  }
  int owner = 0;
  CRampaMem first(&owner, kName, m_file);
  void* view = first.MemAttach();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(first.MemIsCreated(), 1);
  // A longer file is never cut; the stale bytes of the mapping are gone.
  struct stat st{};
  ASSERT_EQ(::stat(m_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 20000);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffOwner), 0u) << "no address of ours reaches the block";
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffIdent), kName);
  EXPECT_TRUE(AllZero(view, kRampaOffIdent + sizeof kName, kRampaMappingSize));

  RampaBlockSetText(view, kRampaOffCfgFile, "/rules/Ramparo.cfg");
  RampaBlockSet(view, kRampaOffEnginePresent, 7);
  Bytes(view)[kRampaUsedSize + 10] = 0x42;  // beyond what the console uses

  CRampaMem second(nullptr, kName, m_file);
  int created = -1;
  void* other = second.MemAttach(&created);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(created, 0);
  EXPECT_EQ(RampaBlockGetText(other, kRampaOffCfgFile), "/rules/Ramparo.cfg");
  EXPECT_EQ(RampaBlockGet(other, kRampaOffEnginePresent), 7u);

  // Only the creator wipes, and only the part the console uses.
  second.MemDetach();
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 7u);
  CRampaMem third(nullptr, kName, m_file);
  void* watcher = third.MemAttach();
  ASSERT_NE(watcher, nullptr);
  first.MemDetach();
  EXPECT_EQ(first.MemGetChannelView(), nullptr);
  EXPECT_TRUE(AllZero(watcher, 0, kRampaUsedSize));
  EXPECT_EQ(Bytes(watcher)[kRampaUsedSize + 10], 0x42);
  third.MemDetach();

  // Nobody holds it now: the next attach is a creator again.
  CRampaMem fourth(nullptr, kName, m_file);
  ASSERT_NE(fourth.MemAttach(), nullptr);
  EXPECT_EQ(fourth.MemIsCreated(), 1);
}

TEST_F(ChannelTest, ACreatorThatClearedItsFlagLeavesTheBlockOnDetach) {
  CRampaMem console(nullptr, kName, m_file);
  ASSERT_NE(console.MemAttach(), nullptr);
  CRampaMem engine(nullptr, kName, m_file);
  void* view = engine.MemAttach();
  RampaBlockSet(view, kRampaOffEnginePresent, 1);
  console.MemSetCreated(0);  // what the console does once it has started the engine
  console.MemDetach();
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 1u);
}

TEST_F(ChannelTest, AttachFailuresReturnNothing) {
  CRampaMem unnamed("", m_file);
  EXPECT_EQ(unnamed.MemAttach(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(m_file)) << "an empty name stops before the file is touched";

  CRampaMem nowhere(nullptr, kName, m_folder.File("missing/folder/x.mem"));
  EXPECT_EQ(nowhere.MemAttach(), nullptr);
  EXPECT_EQ(nowhere.MemIsAttached(), 0);
  EXPECT_TRUE(nowhere.MemGetLastError().empty());

  EXPECT_EQ(nowhere.GetErrorMsg(ENOENT), std::strerror(ENOENT));
  errno = EACCES;
  EXPECT_EQ(nowhere.GetErrorMsg(0), std::strerror(EACCES));
  EXPECT_EQ(nowhere.MemGetLastError(), std::strerror(EACCES));
}

TEST_F(ChannelTest, RacingAttachesElectExactlyOneCreator) {
  constexpr int kThreads = 6;
  for (int round = 0; round < 25; ++round) {
    std::vector<std::unique_ptr<CRampaMem>> mems;
    for (int i = 0; i < kThreads; ++i) mems.push_back(std::make_unique<CRampaMem>(nullptr, kName, m_file));
    std::atomic<int> go{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        while (!go.load()) std::this_thread::yield();
        mems[static_cast<std::size_t>(i)]->MemAttach();
      });
    }
    go = 1;
    for (auto& thread : threads) thread.join();
    int creators = 0;
    for (auto& mem : mems) {
      ASSERT_NE(mem->MemGetChannelView(), nullptr) << mem->MemGetLastError();
      creators += mem->MemIsCreated();
    }
    ASSERT_EQ(creators, 1) << "round " << round;
    for (auto& mem : mems) mem->MemDetach();
  }
}

TEST_F(ChannelTest, PlacingARequestFillsTheSlot) {
  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  std::memset(Bytes(view) + kRampaOffPayload, 0xEE, kRampaPayloadSize);  // the last reply
  RampaBlockSet(view, kRampaOffReplyReady, 1);

  ASSERT_EQ(console.SendEngineMessage(1124, 0xFFFFFFFFu, -5, 0), 1);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffRequestPending), 1u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffReplyReady), 0u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffCode), 1124u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffWparam), 0xFFFFFFFFu);
  EXPECT_EQ(static_cast<std::int32_t>(RampaBlockGet(view, kRampaOffLparam)), -5);
  EXPECT_TRUE(AllZero(view, kRampaOffPayload, kRampaUsedSize));
}

TEST_F(ChannelTest, WaitsWithoutAViewOrOnABusySlot) {
  CRampaMem detached(nullptr, kName, m_file);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(detached.MemMsgWaitForReturn(100), 1);
  EXPECT_LT(MillisecondsSince(start), 100.0);
  EXPECT_EQ(detached.SendEngineMessage(1127, 0, 0, 1), 0);
  EXPECT_EQ(detached.SendEngineMessageWithReturn(1127, 0, 0, 1), nullptr);

  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  RampaBlockSet(view, kRampaOffRequestPending, 1);
  RampaBlockSet(view, kRampaOffCode, 1128);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(console.SendEngineMessage(1127, 0, 0, 0), 0);
  const double elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 199.0);
  EXPECT_LT(elapsed, 2000.0);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffCode), 1128u) << "a busy slot is left alone";

  // With wait 1 an attempt follows as soon as the slot frees.
  std::thread engine([view] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RampaBlockSet(view, kRampaOffRequestPending, 0);
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(console.SendEngineMessage(1127, 0, 0, 1), 1);
  EXPECT_LT(MillisecondsSince(start), 2000.0);
  engine.join();
  EXPECT_EQ(RampaBlockGet(view, kRampaOffCode), 1127u);

  // A slot that never frees: 20 attempts 200 ms apart.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(console.SendEngineMessage(1128, 0, 0, 1), 0);
  EXPECT_GE(MillisecondsSince(start), 3990.0);
  EXPECT_LT(MillisecondsSince(start), 10000.0);
}

TEST_F(ChannelTest, AHostileBlockIsReadWithinItsBounds) {
  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  std::memset(view, 0xFF, kRampaMappingSize);  // any peer can write anything
  RampaBlockSet(view, kRampaOffPayload + 0, 0x7FFFFFFF);
  RampaBlockSet(view, kRampaOffPayload + 4, 0x7FFFFFFF);
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffIdent), std::string(kRampaTextSize, '\xFF'));
  EXPECT_EQ(console.SendEngineMessage(1127, 0, 0, 0), 0) << "a slot reading neither 0 nor 1 is busy";
  EXPECT_EQ(console.MemMsgWaitForReturn(1), 1);
  const auto reply = RampaStatisticsReply::Parse(Bytes(view) + kRampaOffPayload, kRampaPayloadSize);
  EXPECT_EQ(reply.status, RampaStatisticsReply::Status::Refused);
}

TEST_F(ChannelTest, AFileCutShortUnderTheViewReadsAsNoEngineAndNeverFaults) {
  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  RampaBlockSet(view, kRampaOffEnginePresent, 1);
  RampaBlockSet(view, kRampaOffFiltering, 1);
  EXPECT_EQ(console.MemField(kRampaOffEnginePresent), 1u);

  ASSERT_EQ(::truncate(m_file.c_str(), 100), 0);  // another program cuts the file
  // An access past the file's last page, before any size check, is caught: the block reads as zeros.
  EXPECT_EQ(RampaBlockGet(view, kRampaOffPayload + 7000), 0u);
  EXPECT_TRUE(console.MemIsLost());
  EXPECT_EQ(console.MemField(kRampaOffEnginePresent), 0u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(console.SendEngineMessageWithReturn(kRampaMsgStatistics, 0, 0, 1), nullptr);
  EXPECT_LT(MillisecondsSince(start), 100.0) << "no wait for an engine that cannot answer";

  // The size check alone, before any access: a second attachment on a fresh file.
  CRampaMem other(nullptr, kName, m_folder.File("other.mem"));
  ASSERT_NE(other.MemAttach(), nullptr);
  ASSERT_EQ(::truncate(m_folder.File("other.mem").c_str(), 9299), 0);
  EXPECT_FALSE(other.MemCheckView());
  EXPECT_TRUE(other.MemIsLost());
  other.MemDetach();
  console.MemDetach();  // a creator's wipe lands in the zeroed memory
  EXPECT_EQ(console.MemGetView(), nullptr);
}
