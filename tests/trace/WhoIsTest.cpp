// The whois client against a server of ours on 127.0.0.1, and the server list file.
#include <fstream>

#include <gtest/gtest.h>

#include "TraceTestSupport.h"
#include "controls/trace/CWhoIsQuery.h"
#include "controls/trace/WhoIsServerList.h"

using namespace trace_test;
using Manner = WhoIsServer::Manner;

namespace {

std::string Ask(WhoIsServer& server, long* elapsedMs = nullptr) {
  CWhoIsQuery whois;
  EXPECT_TRUE(whois.SetServer(server.Name()));
  EXPECT_EQ(whois.GetAddress(), "127.0.0.1");
  EXPECT_EQ(whois.GetPort(), server.Port());
  const auto start = std::chrono::steady_clock::now();
  std::string answer = whois.Query(CWhoIsQuery::BuildQuery("", "10.1.2.3"));
  if (elapsedMs) *elapsedMs = MillisecondsSince(start);
  return answer;
}

}  // namespace

TEST(WhoIs, AnswersWholeLateOrCutAtTheLimitAndNothingWithinTheWait) {
  EXPECT_EQ(CWhoIsQuery::BuildQuery("?", "10.1.2.3"), "? 10.1.2.3\r\n");

  WhoIsServer normal(Manner::Normal);
  EXPECT_EQ(Ask(normal), WhoIsServer::kAnswer);
  EXPECT_EQ(normal.Queries(), (std::vector<std::string>{"10.1.2.3\r\n"}));

  // Late, with a pause in the middle: still whole.
  WhoIsServer slow(Manner::Slow);
  EXPECT_EQ(Ask(slow), WhoIsServer::kAnswer);

  // A server that closes without a word ends the query at once; one that stays silent is given
  // up after the 30 waits of 100 ms.
  long elapsed = 0;
  WhoIsServer empty(Manner::Empty);
  EXPECT_EQ(Ask(empty, &elapsed), "");
  EXPECT_LT(elapsed, 1000);
  WhoIsServer silent(Manner::Silent);
  EXPECT_EQ(Ask(silent, &elapsed), "");
  EXPECT_GE(elapsed, 2900);
  EXPECT_LT(elapsed, 4500);

  // An answer past 65535 characters is cut there; its text with CR LF line ends stays within
  // 65533 characters and never splits a line end.
  WhoIsServer huge(Manner::Huge);
  const std::string answer = Ask(huge);
  EXPECT_EQ(answer, WhoIsServer::HugeAnswer().substr(0, CWhoIsQuery::kMaxAnswer));
  const std::string text = CWhoIsQuery::ToCrLf(answer);
  EXPECT_LE(text.size(), CWhoIsQuery::kMaxText);
  EXPECT_GT(text.size(), CWhoIsQuery::kMaxText - 30);
  EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);
  EXPECT_NE(text.back(), '\r');
  EXPECT_EQ(CWhoIsQuery::ToCrLf("a\nb\r\nc"), "a\r\nb\r\nc");
}

TEST(WhoIs, CancelEndsAWaitAtOnce) {
  WhoIsServer silent(Manner::Silent);
  CWhoIsQuery whois;
  ASSERT_TRUE(whois.SetServer(silent.Name()));
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    whois.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(whois.Query("x\r\n"), "");
  EXPECT_LT(MillisecondsSince(start), 1000);
  canceller.join();
  EXPECT_EQ(whois.Query("x\r\n"), "");  // and every later query
}

TEST(WhoIsServerList, CreatedWithDefaultsRecordsOf256BytesCutAndSkipped) {
  TraceEnv env;
  const std::string path = WhoIsServerList::kFileName;
  const auto created = WhoIsServerList::Read(path);
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(*created, WhoIsServerList::Defaults());
  EXPECT_EQ(std::filesystem::file_size(path), 4 * 256u);

  const std::string longName(300, 'w');
  ASSERT_TRUE(WhoIsServerList::Write(path, {"a.example", "", longName}));
  EXPECT_EQ(std::filesystem::file_size(path), 2 * 256u);
  // A record cut off at the end is no record.
  std::ofstream(path, std::ios::binary | std::ios::app) << "partial";
  EXPECT_EQ(*WhoIsServerList::Read(path), (std::vector<std::string>{"a.example", longName.substr(0, 255)}));

  EXPECT_FALSE(WhoIsServerList::Write("no-such-folder/list.txt", {"a.example"}));
  EXPECT_FALSE(WhoIsServerList::Read("no-such-folder/list.txt").has_value());
}
