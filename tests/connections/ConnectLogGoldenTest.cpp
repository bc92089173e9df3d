// A connection log written by an earlier release (a real scan of loopback sockets: a listener,
// a connection that closed, a UDP socket that went) and what that release's readers made of it:
// the records it walked, and the rows it reloaded. Both must come out the same today, and the
// same records written again must give the same bytes.
#include <optional>
#include <sstream>

#include "ConnectionsTestSupport.h"
#include "common/FieldText.h"

using namespace conntest;

namespace {

const std::string kGolden = std::string(PELORIN_TESTDATA) + "/connections/ConnectLogIpv4";

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

class ConnectLogGoldenTest : public ConnectionsTest {
 protected:
  void SetUp() override {
    ConnectionsTest::SetUp();
    // The rows' times were written in UTC.
    const char* tz = std::getenv("TZ");
    m_oldTz = tz ? std::optional<std::string>(tz) : std::nullopt;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::filesystem::copy_file(kGolden + ".rec", m_logPath);
  }
  void TearDown() override {
    ConnectionsTest::TearDown();
    if (m_oldTz)
      ::setenv("TZ", m_oldTz->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  std::optional<std::string> m_oldTz;
};

TEST_F(ConnectLogGoldenTest, AnEarlierLogReadsReloadsAndRewritesUnchanged) {
  CreateList();
  std::vector<std::string> reads;
  std::vector<unsigned char> buffer(65535);
  LONG position = -1;
  std::string local, remote, time, type;
  for (;;) {
    const LONG n = Scanner().LogReadNext(&position, buffer.data(), 65535, &local, &remote, &time, &type);
    if (n <= 0) break;
    std::ostringstream line;
    line << position << '\t' << local << '\t' << remote << '\t' << time << '\t' << type << '\t' << n;
    reads.push_back(line.str());
  }
  reads.push_back("last\t" + std::to_string(Scanner().LogGetMaxRecNum()));
  EXPECT_EQ(reads, Lines(kGolden + ".reads.tsv"));

  m_list->LoadLastLog();
  ASSERT_TRUE(WaitFor([&] { return Scanner().IsLogLast() == 0; }));
  std::vector<std::string> rows;
  for (const RowView& r : Rows(*m_list)) {
    std::ostringstream line;
    for (int c = 0; c < 10; ++c) line << (c ? "\t" : "") << r.Text(c);
    line << '\t' << r.record.state << '\t' << r.record.localAddr << '\t' << r.record.localPort << '\t'
         << r.record.remoteAddr << '\t' << r.record.remotePort << '\t' << r.record.connectTime;
    rows.push_back(line.str());
  }
  EXPECT_EQ(rows, Lines(kGolden + ".rows.tsv"));

  // Each record handed to the writer again, in order, into an empty log.
  const std::vector<unsigned char> golden = FileBytes(kGolden + ".rec");
  const std::string again = m_dir + "/again.rec";
  m_profile.WriteProfileString("", "IpConnectLogCurrent", again);
  Scanner().LogUseCurrent(0);
  for (const LogRecord& r : ParseLog(golden)) {
    const std::string local = GetFieldText(r.header.localAddr), remote = GetFieldText(r.header.remoteAddr);
    ASSERT_EQ(Scanner().LogWrite(r.data.data(), static_cast<LONG>(r.data.size()), local.c_str(), remote.c_str(),
                                 GetFieldText(r.header.time).c_str(), r.Type().c_str(), nullptr),
              static_cast<LONG>(r.data.size()));
  }
  Scanner().LogFlush();
  EXPECT_EQ(FileBytes(again), golden);
}
