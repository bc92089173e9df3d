// Exporting the packet log to a disk that fills, or giving the export up: nothing is left under
// the chosen name, and a file that was there before keeps its content.
#include <fstream>
#include <iterator>

#include "../capture/CaptureTestSupport.h"
#include "SmallDisk.h"
#include "wincap/PacketLogExport.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;
using reliability_test::SmallDisk;

namespace {
std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

TEST(PacketExportFullDisk, AFailedOrCancelledExportLeavesTheChosenNameAlone) {
  if (!IsRoot()) GTEST_SKIP() << "mounting the small disk needs root";
  CaptureEnv env;
  SmallDisk disk(env.File("disk"), "1m");
  ASSERT_TRUE(disk.Mounted());
  {
    // Some 3 MB of records: more than the disk holds.
    PacketLogFile log;
    ASSERT_TRUE(log.OpenTruncate(env.LogPath()));
    const auto frame = BuildFrame(FrameParts{.protocol = 17, .payload = std::string(60000, 'x')});
    for (int i = 0; i < 50; ++i)
      ASSERT_GT(log.Write(frame.data(), static_cast<LONG>(frame.size()), "10.0.0.1", "10.0.0.2",
                          "12/08/26 07:30:00:123", nullptr),
                0);
  }
  const std::string out = disk.File("out.pcapng");
  std::ofstream(out) << "an earlier export";

  PacketLogExport full;
  const auto result = full.Run(env.LogPath(), out);
  EXPECT_FALSE(result.written);
  EXPECT_NE(result.error.find("Cannot write"), std::string::npos) << result.error;
  EXPECT_EQ(Content(out), "an earlier export");
  EXPECT_FALSE(PartFileBeside(out));

  PacketLogExport cancelled;
  cancelled.cancel.store(true);
  const std::string other = env.File("other.pcapng");
  EXPECT_FALSE(cancelled.Run(env.LogPath(), other).written);
  EXPECT_FALSE(std::filesystem::exists(other));
  EXPECT_FALSE(PartFileBeside(other));
}
