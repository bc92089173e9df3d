// Every writer that replaces a file writes a new file of a random name beside it and renames that
// over the target: a symlink or file planted at the names they once used (PATH.PID.N.tmp,
// PATH.tmpPID, PATH.part) is neither followed nor truncated, and the save still succeeds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "controls/link/LinkLogFiles.h"
#include "controls/trace/WhoIsServerList.h"
#include "platform/FileContents.h"
#include "platform/FileLock.h"
#include "wincap/PcapngWriter.h"

namespace fs = std::filesystem;

TEST(ReplacementFile, NamesPlantedBesideTheTargetAreNeitherFollowedNorTruncated) {
  char pattern[] = "/tmp/pelorin-replace-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  const std::string victim = folder + "/victim";
  ASSERT_TRUE(ReplaceFileContents(victim, "keep"));
  const std::string pid = std::to_string(::getpid());
  std::set<std::string> names = {"victim"};
  const auto plant = [&](const std::string& name) {
    ASSERT_EQ(::symlink(victim.c_str(), (folder + "/" + name).c_str()), 0) << name;
    names.insert(name);
  };
  for (int n = 0; n < 64; ++n) plant("settings.reg." + pid + "." + std::to_string(n) + ".tmp");
  plant("list.txt.tmp" + pid);
  plant("export.pcapng.part");
  ASSERT_TRUE(ReplaceFileContents(folder + "/link.cnl.part", "planted file"));
  names.insert("link.cnl.part");

  EXPECT_TRUE(ReplaceFileContents(folder + "/settings.reg", "new settings"));
  EXPECT_TRUE(WhoIsServerList::Write(folder + "/list.txt", {"whois.example.net"}));
  PcapngWriter writer;
  const std::uint8_t frame[60] = {1, 2, 3};
  EXPECT_TRUE(writer.Open(folder + "/export.pcapng", PcapngWriter::kLinkTypeEthernet, 65535) &&
              writer.WritePacket(1, frame, sizeof frame) && writer.Commit())
      << writer.ErrorText();
  ASSERT_TRUE(ReplaceFileContents(folder + "/source.cnl", "link records"));
  ::chmod((folder + "/source.cnl").c_str(), 0640);
  const auto lock = LinkLogFiles::Copy(folder + "/source.cnl", folder + "/link.cnl");
  EXPECT_TRUE(lock && lock->IsHeld());
  // A failed replacement (a folder at the target's name) leaves no temporary file either.
  fs::create_directories(folder + "/busy/inner");
  EXPECT_FALSE(ReplaceFileContents(folder + "/busy", "lost"));
  names.insert({"settings.reg", "list.txt", "export.pcapng", "source.cnl", "link.cnl", "busy"});

  EXPECT_EQ(ReadFileContents(victim), "keep");
  EXPECT_EQ(ReadFileContents(folder + "/link.cnl.part"), "planted file");
  for (const std::string& name : names)
    if (fs::is_symlink(folder + "/" + name)) {
      EXPECT_EQ(fs::read_symlink(folder + "/" + name), victim) << name;
    }
  EXPECT_EQ(ReadFileContents(folder + "/settings.reg"), "new settings");
  EXPECT_EQ(WhoIsServerList::Read(folder + "/list.txt"), std::vector<std::string>{"whois.example.net"});
  EXPECT_EQ(fs::file_size(folder + "/export.pcapng"), 28u + 20u + 32u + sizeof frame);
  EXPECT_EQ(ReadFileContents(folder + "/link.cnl"), "link records");
  EXPECT_EQ(fs::status(folder + "/link.cnl").permissions(), fs::perms(0640));
  std::set<std::string> present;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) present.insert(entry.path().filename());
  EXPECT_EQ(present, names);  // nothing left over
  fs::remove_all(folder);
}
