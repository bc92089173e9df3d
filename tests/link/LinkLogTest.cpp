// The link capture thread on replayed captures: what it keeps and logs, its temporary log, and
// saving and loading ".cnl" files.
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "LinkTestSupport.h"
#include "controls/link/IpMon.h"
#include "controls/link/LinkLogFiles.h"
#include "controls/link/LinkTempLog.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include <fstream>
#include <iterator>
#include "wincap/PacketLogFile.h"

using namespace link_test;
using capture_test::CaptureEnv;

namespace fs = std::filesystem;

namespace {

std::vector<std::string> TempLogs(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    if (entry.path().extension() == ".tmp") found.push_back(entry.path().string());
  return found;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileContents(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::vector<std::uint8_t>> Records(const std::string& path) {
  std::vector<std::vector<std::uint8_t>> records;
  PacketLogFile file;
  if (!file.OpenReadOnly(path)) return records;
  std::vector<std::uint8_t> buffer(PacketLogFile::kMaxDataLength);
  LONG position = 0;
  for (LONG read; (read = file.ReadNext(&position, buffer.data(), PacketLogFile::kMaxDataLength, nullptr, nullptr,
                                        nullptr)) > 0;)
    records.emplace_back(buffer.begin(), buffer.begin() + read);
  return records;
}

std::unique_ptr<IpMon> MakeMonitor(AppProfile& app, const _MonListMonItemDataIp& link, const std::string& protocol) {
  auto monitor = std::make_unique<IpMon>(&app, link, protocol);
  if (monitor->MonListCreate(nullptr, 1028, Rect{0, 0, 600, 300}) != 0) return nullptr;
  PelorinCThreadIpMon* thread = monitor->GetLinkThread();
  capture_test::WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
  return monitor;
}

class LinkLog : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = m_env.File("ConnLogs");
    m_env.App().WriteProfileString("", PelorinCThreadIpMon::kFolderKey, m_folder + "/");
  }
  CaptureEnv m_env;
  std::string m_folder;
};

}  // namespace

TEST_F(LinkLog, KeepsOnlyItsLinkAndSavesAndLoadsByteExact) {
  const std::string capture = capture_test::kPcapFolder + "/zeek-wikipedia.pcap";
  const auto frames = capture_test::ReadCapture(capture);
  const auto fields = ReadFields(capture);
  // The TCP conversation of the first TCP packet, and the frames that belong to it.
  std::size_t first = 0;
  while (first < fields.size() && fields[first].protocol != 6) ++first;
  ASSERT_LT(first, fields.size());
  std::vector<std::vector<std::uint8_t>> expected;
  for (std::size_t i = 0; i < frames.size(); ++i)
    if (OnLink(fields[i], fields[first])) expected.push_back(frames[i]);
  ASSERT_GT(expected.size(), 2u);
  ASSERT_LT(expected.size(), frames.size());

  m_env.UseCaptureFile(capture);
  auto monitor = MakeMonitor(m_env.App(), LinkOf(fields[first]), "TCP");
  ASSERT_NE(monitor, nullptr);
  PelorinCThreadIpMon* thread = monitor->GetLinkThread();
  const std::string temp = thread->LogGet();
  EXPECT_EQ(fs::path(temp).parent_path(), fs::path(m_folder));
  EXPECT_TRUE(fs::path(temp).filename().string().starts_with("PET"));
  EXPECT_EQ(fs::path(temp).extension(), ".tmp");

  ASSERT_TRUE(capture_test::Replay(*monitor));
  EXPECT_EQ(monitor->GetItemCount(), static_cast<int>(expected.size()));
  EXPECT_EQ(Records(temp), expected);

  // Saving copies the log as it is, makes the copy the log and drops the temporary file.
  const std::string logged = Bytes(temp);
  const std::string first_save = m_env.File("first.cnl");
  ASSERT_EQ(monitor->LogSave(first_save), IpMon::LogResult::Ok);
  EXPECT_EQ(Bytes(first_save), logged);
  EXPECT_EQ(thread->LogGet(), first_save);
  EXPECT_TRUE(thread->IsUsingLoad());
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(monitor->GetItemCount(), static_cast<int>(expected.size()));
  // A second save copies the first saved file.
  const std::string second_save = m_env.File("second.cnl");
  ASSERT_EQ(monitor->LogSave(second_save), IpMon::LogResult::Ok);
  EXPECT_EQ(Bytes(second_save), logged);
  EXPECT_TRUE(LinkLogFiles::IsPacketLog(second_save));
  EXPECT_TRUE(TempLogs(m_folder).empty());

  // A cut-off log is refused; a save that cannot be written keeps the log as well.
  const std::string cut = m_env.File("cut.cnl");
  WriteFileContents(cut, logged.substr(0, logged.size() - 3));
  EXPECT_EQ(monitor->LogLoad(cut), IpMon::LogResult::NotALog);
  EXPECT_EQ(monitor->LogSave(m_env.File("missing-folder/x.cnl")), IpMon::LogResult::NotWritten);
  EXPECT_EQ(thread->LogGet(), second_save);

  monitor->ListDeleteAll();
  ASSERT_EQ(monitor->LogLoad(first_save), IpMon::LogResult::Ok);
  EXPECT_EQ(thread->LogGet(), first_save);
  EXPECT_EQ(monitor->GetItemCount(), static_cast<int>(expected.size()));

  // Closing keeps the saved files.
  monitor.reset();
  EXPECT_EQ(Bytes(first_save), logged);
  EXPECT_EQ(Bytes(second_save), logged);
}

TEST_F(LinkLog, TemporaryLogsGoWithTheirMonitorAndStaleOnesDoNotPileUp) {
  auto unsaved = MakeMonitor(m_env.App(), _MonListMonItemDataIp{}, "");
  ASSERT_NE(unsaved, nullptr);
  const std::string unsavedLog = unsaved->GetLinkThread()->LogGet();
  EXPECT_TRUE(fs::exists(unsavedLog));

  // What a crashed run leaves: a temporary log nobody holds, written a while ago.
  const std::string stale = m_folder + "/PET1234.tmp";
  WriteFileContents(stale, "");
  const utimbuf old{time(nullptr) - 2 * LinkTempLog::kStaleAgeSeconds, time(nullptr) - 2 * LinkTempLog::kStaleAgeSeconds};
  ASSERT_EQ(utime(stale.c_str(), &old), 0);
  // The live monitor's file is old too, but it is held.
  ASSERT_EQ(utime(unsavedLog.c_str(), &old), 0);

  auto second = MakeMonitor(m_env.App(), _MonListMonItemDataIp{}, "");
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(unsavedLog));
  EXPECT_EQ(TempLogs(m_folder).size(), 2u);

  unsaved.reset();
  second.reset();
  EXPECT_TRUE(TempLogs(m_folder).empty());

  // No folder in the settings: no log at all, and nothing breaks.
  m_env.App().WriteProfileString("", PelorinCThreadIpMon::kFolderKey, "");
  auto noLog = MakeMonitor(m_env.App(), _MonListMonItemDataIp{}, "");
  ASSERT_NE(noLog, nullptr);
  EXPECT_TRUE(noLog->GetLinkThread()->LogGet().empty());
}
