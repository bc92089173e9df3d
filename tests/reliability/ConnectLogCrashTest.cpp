// Killed in the middle of writing: the connection log keeps whole records that reload, and the
// registry store is never left damaged by a burst of profile writes.
#include <fstream>
#include <random>

#include "../connections/ConnectionsTestSupport.h"
#include "CrashChild.h"
#include "common/FieldText.h"
#include "platform/RegistryTree.h"

using namespace conntest;
using reliability_test::CrashChild;

// The job of the killed process: the connections pane scanning every 20 ms with logging on.
TEST(CrashChildJobs, DISABLED_connections) {
  if (!reliability_test::IsCrashChild("connections")) GTEST_SKIP();
  UiPump::Instance().AttachToCurrentThread();
  AppProfile app;
  MonListMon list(&app, "Connections", "PelorinPro");
  ASSERT_EQ(list.MonListCreate(nullptr, 1024, Rect{0, 0, 800, 300}), 0);
  list.Scanner()->SetScan(20);
  list.ListStart();
  std::ofstream("ready");
  for (;;) UiPump::Instance().PumpUntil([] { return false; }, 1000);
}

// The job of the other killed process: profile writes as fast as they go.
TEST(CrashChildJobs, DISABLED_profile) {
  if (!reliability_test::IsCrashChild("profile")) GTEST_SKIP();
  AppProfile app;
  for (std::int32_t n = 0;; ++n) {
    app.WriteProfileInt("Burst", "Counter", n);
    app.WriteProfileString("Burst", "Text" + std::to_string(n % 40), std::string(static_cast<std::size_t>(n % 300), 'x'));
    // Ready once a whole write is in the store: on a loaded machine the kill could otherwise
    // come before the first write ends, and the counter would still hold the test's own value.
    if (n == 0) std::ofstream("ready");
  }
}

class ConnectLogCrash : public ConnectionsTest {};

TEST_F(ConnectLogCrash, KilledWhileLoggingLeavesWholeRecordsThatReload) {
  CrashChild child("connections");
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(m_dir + "/ready"); }, 20000));

  // Connections come and go under the scanner until the log holds a few thousand records.
  Socket listener = ListenTcp();
  std::vector<Pair> open;
  std::error_code ignored;
  for (int round = 0; round < 4000 && std::filesystem::file_size(m_logPath, ignored) < 192 * 3000; ++round) {
    open.push_back(Connect(listener));
    if (open.size() > 40) open.erase(open.begin(), open.begin() + 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(child.Kill());

  // Whole records, each at its own position; at most part of one after them.
  const std::vector<unsigned char> bytes = FileBytes(m_logPath);
  const std::vector<LogRecord> records = ParseLog(bytes);
  ASSERT_GT(records.size(), 100u);
  for (const LogRecord& r : records) {
    EXPECT_EQ(r.header.position, r.offset);
    EXPECT_EQ(GetFieldText(r.header.marker), "**Log Record**");
  }
  const std::size_t whole = records.back().offset + sizeof(_LogRecMarkerConnect) + records.back().data.size();
  EXPECT_LT(bytes.size() - whole, sizeof(_LogRecMarkerConnect) + 84);

  // The next start opens it without help: the reload shows a row per record, and the next
  // record follows the last whole one.
  MonListMon& list = CreateList(50);
  list.LoadLastLog();
  ASSERT_TRUE(WaitFor([&] { return Scanner().IsLogLast() == 0; }, 30000));
  EXPECT_EQ(static_cast<std::size_t>(list.GetItemCount()), records.size());
  EXPECT_EQ(std::filesystem::file_size(m_logPath), whole);
  _MonListMonLogData data{};
  DWORD position = 0;
  ASSERT_EQ(Scanner().LogWrite(&data, sizeof data, "127.0.0.1", "", "t", "UDP", &position), 84);
  EXPECT_EQ(position, whole);
}

TEST_F(ConnectLogCrash, ProfileWritesKilledAtAnyMomentLeaveAWholeStore) {
  AppProfile profile;
  profile.WriteProfileString("Kept", "Before", "written before the burst");
  std::mt19937 random(7);
  for (int kill = 0; kill < 6; ++kill) {
    CrashChild child("profile");
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(m_dir + "/ready"); }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
    ASSERT_TRUE(child.Kill());
    std::filesystem::remove(m_dir + "/ready");

    // The store's text is whole: it reads back as it was written, the value from before the
    // burst is there, and the counter holds a value the burst wrote.
    std::ifstream in(m_dir + "/registry.reg", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(RegistryTree::Parse(text).Serialize(), text);
    AppProfile next;  // the next start
    EXPECT_EQ(next.GetProfileString("Kept", "Before", ""), "written before the burst");
    EXPECT_GE(next.GetProfileInt("Burst", "Counter", -1), 0) << "kill " << kill;
    EXPECT_TRUE(next.WriteProfileInt("Burst", "Counter", -5));
    EXPECT_EQ(AppProfile().GetProfileInt("Burst", "Counter", 0), -5);
  }
}
