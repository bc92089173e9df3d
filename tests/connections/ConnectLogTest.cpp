// The connection log: its bytes, reading it back, reloading it into the list, damaged files,
// a log that cannot be opened, and emptying it.
#include <thread>

#include "ConnectionsTestSupport.h"
#include "common/FieldText.h"
#include "common/TimeText.h"

using namespace conntest;

namespace {

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The bytes of a field up to its width, zeros included.
std::string Field(const std::vector<unsigned char>& b, std::size_t at, std::size_t width) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), width);
}

std::string Padded(const std::string& text, std::size_t width) { return text + std::string(width - text.size(), '\0'); }

_MonListMonLogData Sample(std::uint32_t state, const char* local, std::uint32_t localPort, const char* remote,
                          std::uint32_t remotePort, std::uint32_t time, std::uint32_t elapsed, const std::string& name) {
  _MonListMonLogData d{};
  d.state = state;
  d.localAddr = inet_addr(local);
  d.localPort = localPort;
  d.remoteAddr = inet_addr(remote);
  d.remotePort = remotePort;
  d.time = time;
  d.elapsed = elapsed;
  SetFieldTextFull(d.processName, name);
  return d;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

class ConnectLogTest : public ConnectionsTest {
 protected:
  // Appends a TCP record through the scanner; the record's position.
  DWORD Write(const _MonListMonLogData& d, const char* type = "TCP", const char* time = "11/14/23 22:13:20") {
    DWORD position = 0xFFFFFFFF;
    const std::string local = InetNtoa(d.localAddr);
    const std::string remote = std::string(type) == "UDP" ? "" : InetNtoa(d.remoteAddr);
    EXPECT_EQ(Scanner().LogWrite(&d, sizeof d, local.c_str(), remote.c_str(), time, type, &position), 84);
    return position;
  }
  // Points the log at another file and opens it there.
  void UseLog(const std::string& path) {
    m_profile.WriteProfileString("", "IpConnectLogCurrent", path);
    Scanner().LogUseCurrent(0);
  }
  void Reload() {
    m_list->LoadLastLog();
    ASSERT_TRUE(WaitFor([&] { return Scanner().IsLogLast() == 0; }));
  }
};

TEST_F(ConnectLogTest, RecordBytesFieldByFieldWithCutTexts) {
  CreateList();
  const std::string name50(50, 'p');
  const _MonListMonLogData d = Sample(5, "10.0.0.5", 1025, "10.0.0.9", 80, 1700000000, 0, name50);
  EXPECT_EQ(Write(d), 0u);
  // Texts longer than their fields are cut and never reach the next field.
  DWORD second = 0;
  EXPECT_EQ(Scanner().LogWrite(&d, sizeof d, "123.123.123.123:65535", std::string(30, 'r').c_str(),
                               std::string(40, 't').c_str(), "UDPXXXXXXX", &second),
            84);
  EXPECT_EQ(second, 192u);
  EXPECT_EQ(Scanner().GetRecordCounter(), 2u);

  const std::vector<unsigned char> b = FileBytes(m_logPath);
  ASSERT_EQ(b.size(), 384u);
  EXPECT_EQ(Field(b, 0, 16), Padded("**Log Record**", 16));
  EXPECT_EQ(U32(b, 16), 0u);
  EXPECT_EQ(Field(b, 20, 20), Padded("10.0.0.5", 20));
  EXPECT_EQ(Field(b, 40, 20), Padded("10.0.0.9", 20));
  EXPECT_EQ(Field(b, 60, 25), Padded("11/14/23 22:13:20", 25));
  EXPECT_EQ(Field(b, 85, 3), std::string(3, '\0'));
  EXPECT_EQ(U32(b, 88), 84u);
  EXPECT_EQ(U32(b, 92), 192u);
  EXPECT_EQ(b[96], 0x0D);
  EXPECT_EQ(b[97], 0x0A);
  EXPECT_EQ(Field(b, 98, 2), std::string(2, '\0'));
  EXPECT_EQ(Field(b, 100, 8), Padded("TCP", 8));
  // The data block: the row record image, elapsed, then the name filling its 50 bytes.
  EXPECT_EQ(U32(b, 108), 5u);
  EXPECT_EQ(U32(b, 112), inet_addr("10.0.0.5"));
  EXPECT_EQ(U32(b, 116), 1025u);
  EXPECT_EQ(U32(b, 120), inet_addr("10.0.0.9"));
  EXPECT_EQ(U32(b, 124), 80u);
  EXPECT_EQ(U32(b, 128), 1700000000u);
  EXPECT_EQ(U32(b, 132), 0u);
  EXPECT_EQ(U32(b, 136), 0u);
  EXPECT_EQ(Field(b, 140, 50), name50);
  EXPECT_EQ(Field(b, 190, 2), std::string(2, '\0'));

  EXPECT_EQ(U32(b, 192 + 16), 192u);
  EXPECT_EQ(Field(b, 192 + 20, 20), Padded("123.123.123.123:655", 20));
  EXPECT_EQ(Field(b, 192 + 40, 20), Padded(std::string(19, 'r'), 20));
  EXPECT_EQ(Field(b, 192 + 60, 25), Padded(std::string(24, 't'), 25));
  EXPECT_EQ(Field(b, 192 + 100, 8), Padded("UDPXXXX", 8));

  // Lengths no record may carry write nothing.
  std::vector<unsigned char> big(0x10000);
  EXPECT_EQ(Scanner().LogWrite(big.data(), 0x10000, "", "", "", "TCP", nullptr), 0);
  EXPECT_EQ(Scanner().LogWrite(big.data(), -1, "", "", "", "TCP", nullptr), 0);
  // Logging off writes nothing either.
  Scanner().SetLog(0);
  EXPECT_EQ(Scanner().LogWrite(&d, sizeof d, "", "", "", "TCP", nullptr), 0);
  EXPECT_EQ(FileBytes(m_logPath).size(), 384u);
  EXPECT_EQ(Scanner().GetRecordCounter(), 2u);
}

TEST_F(ConnectLogTest, ReadingNextAndByPositionAndTheLastPosition) {
  CreateList();
  EXPECT_EQ(Scanner().LogGetMaxRecNum(), 0);  // empty log
  Write(Sample(2, "127.0.0.1", 8080, "0.0.0.0", 0, 1700000000, 0, "Alpha"));
  Write(Sample(1, "127.0.0.1", 53, "0.0.0.0", 0, 1700000001, 0, "Beta"), "UDP");
  Write(Sample(kStateDisconnected, "127.0.0.1", 8080, "0.0.0.0", 0, 1700000009, 9, "Alpha"), "TCP",
        "11/14/2023 22:13:29");
  EXPECT_EQ(Scanner().LogGetMaxRecNum(), 384);

  // From the start of a freshly opened log.
  Scanner().LogUseCurrent(1);
  LONG position = -1;
  std::string local, remote, time, type;
  _MonListMonLogData d{};
  EXPECT_EQ(Scanner().LogReadNext(&position, &d, sizeof d, &local, &remote, &time, &type), 84);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(local, "127.0.0.1");
  EXPECT_EQ(remote, "0.0.0.0");
  EXPECT_EQ(time, "11/14/23 22:13:20");
  EXPECT_EQ(type, "TCP");
  EXPECT_EQ(d.localPort, 8080u);
  EXPECT_EQ(GetFieldText(d.processName), "Alpha");
  // A small buffer takes what fits; the next read starts at the next record all the same.
  char small[10] = {};
  EXPECT_EQ(Scanner().LogReadNext(&position, small, sizeof small, nullptr, nullptr, nullptr, &type), 10);
  EXPECT_EQ(position, 192);
  EXPECT_EQ(type, "UDP");
  // Without a buffer the read walks to the end and leaves the last record's position.
  EXPECT_EQ(Scanner().LogReadNext(&position, nullptr, 0, nullptr, nullptr, &time, nullptr), -1);
  EXPECT_EQ(position, 384);
  EXPECT_EQ(time, "11/14/2023 22:13:29");

  EXPECT_EQ(Scanner().LogRead(192, &d, sizeof d, &local, &remote, &time, &type), 84);
  EXPECT_EQ(d.localPort, 53u);
  EXPECT_EQ(remote, "");
  EXPECT_EQ(type, "UDP");
  EXPECT_EQ(Scanner().LogRead(100, &d, sizeof d, nullptr, nullptr, nullptr, nullptr), -1);  // no record there
  EXPECT_EQ(Scanner().LogRead(4000, &d, sizeof d, nullptr, nullptr, nullptr, nullptr), -1);
}

TEST_F(ConnectLogTest, ConnectionThatOpensAndClosesReloadsAsTwoRowsInFileOrder) {
  MonListMon& list = CreateList(50);
  Socket listener = ListenTcp();
  const std::uint16_t port = listener.LocalPort();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return RowsOnPort(list, "TCP", port).size() == 1; }));
  UiPump::Instance().PumpUntil([] { return false; }, 1300);  // ms: a duration of a second or more
  listener.Close();
  ASSERT_TRUE(WaitFor([&] {
    auto rows = RowsOnPort(list, "TCP", port);
    return rows.size() == 1 && rows[0].Text(2) == "Disconnect";
  }));
  list.ListStop();

  // The two records as written by the scanner.
  const auto records = RecordsOnPort(m_logPath, "TCP", port);
  ASSERT_EQ(records.size(), 2u);
  const LogRecord& up = records[0];
  const LogRecord& down = records[1];
  for (const LogRecord* r : {&up, &down}) {
    EXPECT_EQ(r->header.position, r->offset);
    EXPECT_EQ(GetFieldText(r->header.localAddr), "127.0.0.1");
    EXPECT_EQ(GetFieldText(r->header.remoteAddr), "0.0.0.0");
    EXPECT_EQ(r->header.dataLength, 84);
    EXPECT_EQ(r->header.recordLength, 192);
    EXPECT_EQ(r->header.cr, 0x0D);
    EXPECT_EQ(r->header.lf, 0x0A);
    EXPECT_EQ(GetFieldText(r->Data().processName), OwnName().substr(0, 50));
    EXPECT_EQ(r->Data().zero, 0u);
  }
  EXPECT_TRUE(HasShape(GetFieldText(up.header.time), "99/99/99 99:99:99"));
  EXPECT_TRUE(HasShape(GetFieldText(down.header.time), "99/99/9999 99:99:99"));
  EXPECT_EQ(up.Data().state, 2u);
  EXPECT_EQ(up.Data().elapsed, 0u);
  EXPECT_EQ(down.Data().state, kStateDisconnected);
  EXPECT_GE(down.Data().elapsed, 1u);
  EXPECT_EQ(down.Data().time - up.Data().time, down.Data().elapsed);

  const std::vector<LogRecord> all = ParseLog(FileBytes(m_logPath));
  Reload();
  // One row per record, in the order of the file, whatever their names.
  EXPECT_EQ(list.GetStyle() & ~WS_VISIBLE, PelorinCListView::kListStyle);
  const auto rows = Rows(list);
  ASSERT_EQ(rows.size(), all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(rows[i].Text(1), all[i].Type());
    EXPECT_EQ(rows[i].record.localPort, all[i].Data().localPort);
    EXPECT_EQ(rows[i].link.rowSequence, i);
    EXPECT_EQ(rows[i].link.logRecordNumber, 0u);
  }
  const auto mine = RowsOnPort(list, "TCP", port);
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_LT(mine[0].row, mine[1].row);
  EXPECT_EQ(mine[0].Text(0), OwnName());
  EXPECT_EQ(mine[0].Text(2), "Listen");
  EXPECT_EQ(mine[0].Text(8), "00:00:00");
  EXPECT_EQ(mine[0].Text(7), GetFieldText(up.header.time));
  EXPECT_EQ(mine[1].Text(2), "Disconnect");
  EXPECT_EQ(mine[1].Text(8), FormatSpan(down.Data().elapsed));
  EXPECT_EQ(mine[1].record.connectTime, down.Data().time);
  EXPECT_EQ(Scanner().GetRecordCounter(), static_cast<DWORD>(Scanner().LogGetMaxRecNum() + 1));
}

TEST_F(ConnectLogTest, FiftyCharacterNamesAndShortOrLongDataBlocksLoad) {
  CreateList();
  std::vector<unsigned char> bytes;
  auto add = [&](const _MonListMonLogData& d, std::int32_t length, const char* type, unsigned char fill) {
    _LogRecMarkerConnect h{};
    SetFieldText(h.marker, "**Log Record**");
    h.position = static_cast<std::uint32_t>(bytes.size());
    SetFieldText(h.localAddr, InetNtoa(d.localAddr));
    SetFieldText(h.time, "01/02/24 03:04:05");
    SetFieldText(h.typeText, type);
    h.dataLength = length;
    h.recordLength = length + 108;
    h.cr = 0x0D;
    h.lf = 0x0A;
    const auto* p = reinterpret_cast<const unsigned char*>(&h);
    bytes.insert(bytes.end(), p, p + sizeof h);
    std::vector<unsigned char> block(static_cast<std::size_t>(length), fill);
    std::memcpy(block.data(), &d, std::min(sizeof d, block.size()));
    bytes.insert(bytes.end(), block.begin(), block.end());
  };
  // The name runs to the end of its field and the bytes after it are not zero: it stops at 50.
  add(Sample(2, "10.1.1.1", 1, "10.2.2.2", 2, 1700000000, 0, std::string(50, 'n')), 84 + 16, "TCP", 'z');
  // A block shorter than the record: what it lacks reads as zero.
  add(Sample(5, "10.1.1.1", 3, "10.2.2.2", 4, 1700000000, 0, "short"), 12, "TCP", 0);
  add(Sample(1, "10.1.1.1", 5, "0.0.0.0", 0, 1700000000, 0, "other"), 84, "ICMP", 0);  // skipped
  add(Sample(1, "10.1.1.1", 6, "0.0.0.0", 0, 1700000000, 0, "last"), 84, "UDP", 0);
  std::memset(bytes.data() + 108 + 82, 'z', 2);
  WriteFile(m_dir + "/crafted.rec", bytes);
  UseLog(m_dir + "/crafted.rec");
  Reload();
  const auto rows = Rows(*m_list);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Text(0), std::string(50, 'n'));
  EXPECT_EQ(rows[1].record.localPort, 3u);
  EXPECT_EQ(rows[1].record.remotePort, 0u);  // beyond the 12 bytes read
  EXPECT_EQ(rows[1].Text(0), "");
  EXPECT_EQ(rows[2].Text(1), "UDP");
  EXPECT_EQ(rows[2].Text(5), "");
}

TEST_F(ConnectLogTest, DamagedRecordsEndTheReadThere) {
  CreateList();
  const _MonListMonLogData d = Sample(2, "127.0.0.1", 7000, "0.0.0.0", 0, 1700000000, 0, "Good");
  Write(d);
  Write(d);
  Write(d);
  const std::vector<unsigned char> good = FileBytes(m_logPath);
  ASSERT_EQ(good.size(), 576u);

  struct Damage {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> apply;
  };
  const Damage damages[] = {
      {"wrong marker", [](auto& b) { b[192 + 2] = 'X'; }},
      {"negative data length", [](auto& b) { const std::int32_t v = -84; std::memcpy(&b[192 + 88], &v, 4); }},
      {"oversized data length", [](auto& b) { const std::int32_t v = 0x7FFFFFFF; std::memcpy(&b[192 + 88], &v, 4); }},
      {"length past the end", [](auto& b) { const std::int32_t v = 60000; std::memcpy(&b[192 + 88], &v, 4); }},
      {"short header", [](auto& b) { b.resize(192 + 50); }},
      {"data cut short", [](auto& b) { b.resize(192 + 108 + 10); }},
  };
  int index = 0;
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::vector<unsigned char> bytes = good;
    damage.apply(bytes);
    const std::string path = m_dir + "/damaged" + std::to_string(index++) + ".rec";
    WriteFile(path, bytes);
    UseLog(path);
    EXPECT_EQ(Scanner().LogGetMaxRecNum(), 0);  // the first record is the last one read
    Reload();
    const auto rows = Rows(*m_list);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Text(0), "Good");
    EXPECT_EQ(rows[0].Text(4), "7000");
  }
}

TEST_F(ConnectLogTest, ALogThatCannotBeOpenedLeavesTheListAndLogsNothing) {
  MonListMon& list = CreateList(50);
  Socket listener = ListenTcp();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return !RowsOnPort(list, "TCP", listener.LocalPort()).empty(); }));
  list.ListStop();
  const int rows = list.GetItemCount();
  const DWORD counter = Scanner().GetRecordCounter();

  UseLog(m_dir + "/no/such/folder/PelorinProLogConnect.rec");
  EXPECT_EQ(Scanner().IsLogOpen(), 0);
  Reload();
  EXPECT_EQ(list.GetItemCount(), rows);
  EXPECT_EQ(Scanner().LogGetMaxRecNum(), 0);

  // Scanning goes on without a log: new endpoints get rows, nothing is counted.
  Socket another = ListenTcp();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return !RowsOnPort(list, "TCP", another.LocalPort()).empty(); }));
  list.ListStop();
  EXPECT_EQ(Scanner().GetRecordCounter(), counter);
  _MonListMonLogData d{};
  EXPECT_EQ(Scanner().LogWrite(&d, sizeof d, "", "", "", "TCP", nullptr), 0);
}

TEST_F(ConnectLogTest, ClearingEmptiesListAndLogAndAnEmptyLogReloadsEmpty) {
  MonListMon& list = CreateList(50);
  Socket listener = ListenTcp();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return !RowsOnPort(list, "TCP", listener.LocalPort()).empty(); }));
  list.ListStop();
  const DWORD counter = Scanner().GetRecordCounter();
  ASSERT_GT(counter, 0u);

  list.SetDeleteAll(1);
  ASSERT_TRUE(WaitFor([&] { return list.GetItemCount() == 0 && std::filesystem::file_size(m_logPath) == 0; }));
  EXPECT_EQ(Scanner().IsDeleteAll(), 0);
  EXPECT_EQ(list.GetRowCounter(), 0);
  EXPECT_EQ(Scanner().GetRecordCounter(), counter);  // the counter keeps its value
  // The log stays open: the next record starts the file again.
  DWORD position = 99;
  _MonListMonLogData d{};
  EXPECT_EQ(Scanner().LogWrite(&d, sizeof d, "", "", "", "TCP", &position), 84);
  EXPECT_EQ(position, 0u);

  list.SetDeleteAll(1);
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::file_size(m_logPath) == 0; }));
  Socket other = ListenTcp();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return !RowsOnPort(list, "TCP", other.LocalPort()).empty(); }));
  list.ListStop();
  UseLog(m_dir + "/empty.rec");
  Reload();
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(Scanner().LogGetMaxRecNum(), 0);
}

// Two panes logging to one file at once (each writer with its own file object): no record is
// lost or overwritten, each keeps its order, every stored position is the record's offset, and
// a position handed back names the record. A record written alone reaches the file by itself.
TEST_F(ConnectLogTest, TwoWritersOfOneFileKeepEveryRecordWhole) {
  CreateList();
  MonListMon second(&m_profile, "Connections", "PelorinPro");
  ASSERT_EQ(second.MonListCreate(nullptr, 1025, Rect{0, 0, 800, 300}), 0);
  PelorinCThreadMonListMon* writers[2] = {&Scanner(), second.Scanner()};

  _MonListMonLogData lone = Sample(5, "10.0.0.1", 7, "10.0.0.2", 80, 1700000000, 0, "Lone");
  ASSERT_EQ(writers[0]->LogWrite(&lone, sizeof lone, "10.0.0.1", "10.0.0.2", "t", "TCP", nullptr), 84);
  EXPECT_TRUE(WaitFor([&] { return FileBytes(m_logPath).size() == 192; }, 2000));

  constexpr std::uint32_t kEach = 5000;
  DWORD asked[2] = {0, 0};
  auto write = [&](int w) {
    for (std::uint32_t i = 1; i <= kEach; ++i) {
      const _MonListMonLogData d = Sample(5, "10.0.0.1", (w + 1) * 100000 + i, "10.0.0.2", 80, 1700000000, 0, "W");
      // Now and then a caller asks where its record went.
      DWORD* position = i % 1000 == 500 ? &asked[w] : nullptr;
      ASSERT_EQ(writers[w]->LogWrite(&d, sizeof d, "10.0.0.1", "10.0.0.2", "t", "TCP", position), 84);
    }
    writers[w]->LogFlush();
  };
  std::thread other(write, 1);
  write(0);
  other.join();

  const std::vector<LogRecord> records = ParseLog(FileBytes(m_logPath));
  ASSERT_EQ(records.size(), 2 * kEach + 1);
  std::uint32_t next[2] = {100001, 200001};
  for (const LogRecord& r : records) {
    EXPECT_EQ(r.header.position, r.offset);
    const std::uint32_t port = r.Data().localPort;
    if (port == 7) continue;
    const int w = port / 100000 - 1;
    ASSERT_TRUE(w == 0 || w == 1) << port;
    EXPECT_EQ(port, next[w]++);
  }
  EXPECT_EQ(next[0], 100001 + kEach);
  EXPECT_EQ(next[1], 200001 + kEach);
  for (int w = 0; w < 2; ++w) {
    _MonListMonLogData d{};
    ASSERT_EQ(writers[w]->LogRead(static_cast<LONG>(asked[w]), &d, sizeof d, nullptr, nullptr, nullptr, nullptr), 84);
    EXPECT_EQ(d.localPort, (w + 1) * 100000u + 4500);
  }
  second.ProcessClose();
}
