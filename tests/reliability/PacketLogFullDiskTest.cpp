// The packet log on a disk that fills during capture: the pane keeps capturing, says once that
// logging stopped, and every row marked "Ok" still opens its own packet.
#include <algorithm>
#include <cstdio>
#include <map>

#include "../capture/CaptureTestSupport.h"
#include "SmallDisk.h"
#include "ui/ScriptedServices.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;
using reliability_test::SmallDisk;

namespace {

// Frames told apart by their source port (first + n), 1000 payload bytes each.
std::vector<std::vector<std::uint8_t>> Frames(int count, int first) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (int n = 0; n < count; ++n)
    frames.push_back(BuildFrame(FrameParts{.protocol = 17, .sourcePort = first + n, .payload = std::string(1000, 'p')}));
  return frames;
}

// The source port of a logged frame.
int PortOf(const std::vector<std::uint8_t>& frame) { return frame.size() < 36 ? -1 : frame[34] << 8 | frame[35]; }

// Every record of the log from its start, as position -> source port; the walk must end exactly
// at the end of the file (whole records only).
std::map<LONG, int> LoggedPorts(const std::string& path) {
  PacketLogFile file;
  std::map<LONG, int> ports;
  if (!file.OpenReadOnly(path)) return ports;
  std::vector<std::uint8_t> data(0xFFFF);
  for (;;) {
    LONG position = -1;
    const LONG read = file.ReadNext(&position, data.data(), 0xFFFF, nullptr, nullptr, nullptr);
    if (read < 1) break;
    ports[position] = PortOf(std::vector<std::uint8_t>(data.begin(), data.begin() + read));
  }
  EXPECT_EQ(file.Tell(), file.Length());
  return ports;
}

// Each "Ok" row names the record of its own packet; returns how many rows were "Ok".
std::size_t CheckOkRows(MonListIpMon& pane, const std::map<LONG, int>& logged) {
  std::size_t ok = 0;
  for (const Row& row : Rows(pane)) {
    if (row.texts[7] != "Ok") continue;
    ++ok;
    const auto it = logged.find(row.item.recordPosition);
    EXPECT_TRUE(it != logged.end()) << "row " << row.item.rowNumber << " names no record";
    if (it != logged.end()) {
      EXPECT_EQ(std::to_string(it->second), row.texts[3]);
    }
  }
  return ok;
}

}  // namespace

TEST(PacketLogFullDisk, LoggingStopsOnceRowsTurnNoLogAndNoPositionIsReused) {
  if (!IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  CaptureEnv env;
  SmallDisk disk(env.File("disk"), "2m");
  ASSERT_TRUE(disk.Mounted());
  const std::string log = disk.File("PelorinProLogPkt.rec");
  env.App().WriteProfileString("", "IpMonLogCurrent", log);
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  // Room that is given back later, so that logging can go on after the loss.
  {
    std::FILE* spare = std::fopen(disk.File("spare").c_str(), "wb");
    ASSERT_NE(spare, nullptr);
    const std::vector<char> bytes(512 * 1024, 's');
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), spare), bytes.size());
    std::fclose(spare);
  }
  // About 3.4 MB of records for about 1.5 MB of room.
  const std::string capture = env.File("burst.pcap");
  ASSERT_TRUE(WriteCapture(capture, Frames(3000, 20000)));
  env.UseCaptureFile(capture);

  ScriptedServices services;
  auto pane = MakePane(env.App());
  ASSERT_TRUE(pane);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  ASSERT_TRUE(Replay(*pane));
  UiPump::Instance().PumpPending();

  // Capture went on; the loss was told once and logging is off.
  EXPECT_EQ(thread->GetRowsAdded(), 3000u);
  EXPECT_EQ(thread->GetLog(), 0);
  const auto told = std::count_if(services.Messages().begin(), services.Messages().end(),
                                  [](const auto& m) { return m.caption == "Pelorin's Ip Data Packets"; });
  EXPECT_EQ(told, 1);

  // Whole records only; each "Ok" row opens its own packet, every other row is "NoLog" and the
  // "NoLog" rows all come after the "Ok" ones.
  const auto logged = LoggedPorts(log);
  ASSERT_GT(logged.size(), 100u);
  ASSERT_LT(logged.size(), 3000u);
  EXPECT_EQ(CheckOkRows(*pane, logged), logged.size());
  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 3000u);
  const auto firstNoLog = std::find_if(rows.begin(), rows.end(), [](const Row& r) { return r.texts[7] != "Ok"; });
  EXPECT_TRUE(std::all_of(firstNoLog, rows.end(), [](const Row& r) { return r.texts[7] == "NoLog"; }));

  // With room again and logging switched back on, records go on after the kept ones: the old
  // records keep their positions and the new rows open their own packets.
  std::filesystem::remove(disk.File("spare"));
  const std::string more = env.File("more.pcap");
  ASSERT_TRUE(WriteCapture(more, Frames(50, 40000)));
  env.UseCaptureFile(more);
  thread->SetLog(1);
  ASSERT_TRUE(Replay(*pane));
  const auto after = LoggedPorts(log);
  EXPECT_EQ(after.size(), logged.size() + 50);
  for (const auto& [position, port] : logged) EXPECT_EQ(after.at(position), port);
  EXPECT_EQ(CheckOkRows(*pane, after), 50u);
}
