// The packet log after the program is killed while it captures 20,000 packets a second on lo:
// every whole record reads back and reloads, at most a last partial record is lost, and the
// next start appends after the last whole record with no manual step.
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>

#include "../capture/CaptureTestSupport.h"
#include "CrashChild.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;
using reliability_test::CrashChild;

namespace {

constexpr char kMark[] = "pelorin-crash-";
constexpr int kPacketsPerSecond = 20000;

// Sends numbered UDP datagrams to a port on lo at a steady rate until done() holds (or the time
// is up); how many were sent.
template <typename Done>
int SendPaced(int port, Done done, int maxMs) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  const auto start = std::chrono::steady_clock::now();
  int sent = 0;
  std::string payload(200, 'd');
  for (;;) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed > std::chrono::milliseconds(maxMs) || (sent % 200 == 0 && done())) break;
    const auto due = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * kPacketsPerSecond / 1000000;
    if (sent >= due) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    const std::string head = kMark + std::to_string(sent) + ";";
    payload.replace(0, head.size(), head);
    ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ++sent;
  }
  ::close(fd);
  return sent;
}

}  // namespace

// The job of the killed process: the packet pane capturing lo with logging on.
TEST(CrashChildJobs, DISABLED_capture) {
  if (!reliability_test::IsCrashChild("capture")) GTEST_SKIP();
  UiPump::Instance().AttachToCurrentThread();
  AppProfile app;
  auto pane = MakePane(app);
  ASSERT_TRUE(pane);
  pane->ListStart();
  ASSERT_TRUE(pane->GetCaptureThread()->GetIdleMessage());
  std::ofstream(std::filesystem::path(app.GetProfileString("", "IpMonLogCurrent", "")).parent_path() / "ready");
  for (;;) UiPump::Instance().PumpUntil([] { return false; }, 1000);
}

TEST(PacketLogCrash, KilledWhileCapturingLeavesWholeRecordsThatReloadAndAppend) {
  if (!IsRoot()) GTEST_SKIP() << "capture on lo needs root";
  CaptureEnv env;
  env.UseAdapter(0, "lo");
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  const std::string log = env.LogPath();
  CrashChild child("capture");
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(env.File("ready")); }, 20000));

  // About 1.5 MB of records (some 4,400 packets), then the kill, in the middle of whatever the
  // capture thread and its writer are doing.
  auto logged = [&] {
    std::error_code ignored;
    return std::filesystem::file_size(log, ignored) >= 1500000 && !ignored;
  };
  const int sent = SendPaced(47001, logged, 4000);
  ASSERT_TRUE(child.Kill());
  ASSERT_GT(sent, 1000);

  // Every record up to the last whole one reads back, ours carrying their own numbers in order;
  // after them at most part of one record remains.
  PacketLogFile file;
  ASSERT_TRUE(file.OpenReadOnly(log));
  std::vector<std::uint8_t> data(0xFFFF);
  int records = 0, ours = 0, lastNumber = -1;
  for (;;) {
    const LONG read = file.ReadNext(nullptr, data.data(), 0xFFFF, nullptr, nullptr, nullptr);
    if (read < 1) break;
    ++records;
    const std::string bytes(data.begin(), data.begin() + read);
    const auto at = bytes.find(kMark);
    if (at == std::string::npos) continue;
    const int number = std::atoi(bytes.c_str() + at + sizeof kMark - 1);
    EXPECT_GE(number, lastNumber);  // lo shows each packet going out and coming in
    lastNumber = number;
    ++ours;
  }
  const std::int64_t whole = file.Tell();
  EXPECT_LT(file.Length() - whole, 100 + 65535);
  file.Close();
  ASSERT_GT(ours, 1000);
  ASSERT_LT(records, 10000);

  // The next start: the pane opens the log as it is, a reload shows every whole record, and a
  // new record goes right after the last whole one.
  auto pane = MakePane(env.App());
  ASSERT_TRUE(pane);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  ASSERT_TRUE(thread->IsLogOpen());
  pane->LoadLastLog(-1);
  ASSERT_TRUE(WaitUntil([&] { return thread->IsLogLast() == 0; }, 20000));
  EXPECT_EQ(pane->GetItemCount(), records);
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(log)), whole);
  const auto frame = BuildFrame(FrameParts{.payload = "after the crash"});
  DWORD position = 0;
  ASSERT_GT(thread->LogWrite(frame.data(), static_cast<LONG>(frame.size()), "10.0.0.1", "10.0.0.2", "t", &position), 0);
  EXPECT_EQ(position, static_cast<DWORD>(whole));
  EXPECT_EQ(thread->LogGetMaxRecNum(), static_cast<LONG>(whole));
}
