// The connection log on a disk that fills: a scan pass whose records cannot be written leaves
// the record counter and every row's record number true to what the file holds.
#include "../connections/ConnectionsTestSupport.h"
#include "SmallDisk.h"

using namespace conntest;
using reliability_test::SmallDisk;

namespace {

class ConnectLogFullDisk : public ConnectionsTest {
 protected:
  // Each row with a record number names a record of its own endpoint; the rows that do.
  std::size_t CheckNumberedRows(const std::vector<LogRecord>& records) {
    std::size_t numbered = 0;
    for (const RowView& row : Rows(*m_list)) {
      const DWORD number = row.link.logRecordNumber;
      if (!row.hasRecord || number == 0) continue;
      ++numbered;
      EXPECT_LT(number, records.size()) << "row " << row.row << " names a record beyond the file";
      if (number < records.size()) {
        EXPECT_EQ(records[number].Data().localPort, row.record.localPort);
      }
    }
    return numbered;
  }

  std::vector<Socket> Listeners(int count) {
    std::vector<Socket> sockets;
    for (int i = 0; i < count; ++i) sockets.push_back(ListenTcp());
    return sockets;
  }

  bool RowsShown(const std::vector<Socket>& sockets) {
    return WaitFor([&] {
      for (const Socket& s : sockets)
        if (RowsOnPort(*m_list, "TCP", s.LocalPort()).empty()) return false;
      return true;
    });
  }
};

}  // namespace

TEST_F(ConnectLogFullDisk, AFailedPassWriteTakesBackTheCounterAndTheRowsNumbers) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  SmallDisk disk(m_dir + "/disk", "2m");
  ASSERT_TRUE(disk.Mounted());
  const std::string log = disk.File("PelorinProLogConnect.rec");
  m_profile.WriteProfileString("", "IpConnectLogCurrent", log);
  MonListMon& list = CreateList(50);
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() >= 2; }));

  // The disk is full: the next pass's records (60 new listeners, more than a page of the disk)
  // cannot be written.
  ASSERT_GT(disk.Fill("filler"), 0u);
  const std::vector<Socket> lost = Listeners(60);
  ASSERT_TRUE(RowsShown(lost));
  const std::uint64_t pass = Scanner().GetPassCount();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() > pass + 1; }));
  list.ListStop();
  auto records = ParseLog(FileBytes(log));
  EXPECT_EQ(Scanner().GetRecordCounter(), records.size());
  // The file ends with the last whole record (an IPv6 record is longer than an IPv4 one).
  EXPECT_EQ(std::filesystem::file_size(log),
            records.empty() ? 0 : records.back().offset + sizeof(_LogRecMarkerConnect) + records.back().data.size());
  for (const Socket& s : lost)
    for (const RowView& row : RowsOnPort(list, "TCP", s.LocalPort())) EXPECT_EQ(row.link.logRecordNumber, 0u);
  CheckNumberedRows(records);

  // Room again: the next records follow the kept ones and their rows name them.
  std::filesystem::remove(disk.File("filler"));
  const std::vector<Socket> later = Listeners(5);
  list.ListStart();
  ASSERT_TRUE(RowsShown(later));
  list.ListStop();
  records = ParseLog(FileBytes(log));
  EXPECT_EQ(Scanner().GetRecordCounter(), records.size());
  std::size_t laterNumbered = 0;
  for (const Socket& s : later)
    for (const RowView& row : RowsOnPort(list, "TCP", s.LocalPort())) laterNumbered += row.link.logRecordNumber > 0;
  EXPECT_EQ(laterNumbered, later.size());
  EXPECT_GE(CheckNumberedRows(records), later.size());
}
