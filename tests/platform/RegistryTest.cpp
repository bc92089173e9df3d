#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/AppProfile.h"
#include "platform/FileContents.h"
#include "platform/Registry.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-registry-XXXXXX";
    m_folder = mkdtemp(pattern);
    m_path = m_folder + "/store.reg";
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }

  std::string m_folder;
  std::string m_path;
};

const char kKey[] = "Software\\DunmereIncProducts\\Setup\\PelorinPro";

}  // namespace

TEST_F(RegistryTest, TypedValuesRoundTripThroughTheFile) {
  std::string awkward = "quote\" backslash\\ newline\n tab\t cr\r bell\a high\xE9 end";
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  {
    Registry store(m_path);
    ASSERT_TRUE(store.SetValue(kKey, "Text", RegistryValue::String(awkward)));
    ASSERT_TRUE(store.SetValue(kKey, "Empty", RegistryValue::String("")));
    ASSERT_TRUE(store.SetValue(kKey, "Number", RegistryValue::Dword(0xFFFFFFFFu)));
    ASSERT_TRUE(store.SetValue(kKey, "Bytes", RegistryValue::Binary(bytes)));
    ASSERT_TRUE(store.SetValue(kKey, "NoBytes", RegistryValue::Binary({})));
  }
  Registry fresh(m_path);  // a second object reads only what reached the file
  EXPECT_EQ(fresh.GetValue(kKey, "Text"), RegistryValue::String(awkward));
  EXPECT_EQ(fresh.GetValue(kKey, "Empty"), RegistryValue::String(""));
  EXPECT_EQ(fresh.GetValue(kKey, "Number"), RegistryValue::Dword(0xFFFFFFFFu));
  EXPECT_EQ(fresh.GetValue(kKey, "Bytes"), RegistryValue::Binary(bytes));
  const auto none = fresh.GetValue(kKey, "NoBytes");
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(none->type, RegistryValue::Type::Binary);
  EXPECT_TRUE(none->bytes.empty());
  EXPECT_FALSE(fresh.GetValue(kKey, "Missing").has_value());
}

TEST_F(RegistryTest, NamesAndKeysIgnoreCaseAndKeysDeleteWithChildren) {
  Registry store(m_path);
  ASSERT_TRUE(store.SetValue(kKey, "Layout", RegistryValue::String("18")));
  ASSERT_TRUE(store.SetValue(std::string(kKey) + "\\Filters", "Ip", RegistryValue::Binary({1})));
  EXPECT_EQ(store.GetValue("software\\dunmereincproducts\\setup\\pelorinpro\\", "LAYOUT"),
            RegistryValue::String("18"));
  ASSERT_TRUE(store.SetValue(kKey, "layout", RegistryValue::String("2")));  // replaces, keeps one value
  EXPECT_EQ(store.ValueNames(kKey), std::vector<std::string>{"Layout"});
  EXPECT_EQ(store.SubKeyNames(kKey), std::vector<std::string>{"Filters"});
  EXPECT_TRUE(store.KeyExists("Software\\DunmereIncProducts"));
  ASSERT_TRUE(store.DeleteValue(kKey, "Layout"));
  EXPECT_FALSE(store.DeleteValue(kKey, "Layout"));
  ASSERT_TRUE(store.DeleteKey("Software\\DunmereIncProducts\\Setup"));
  EXPECT_FALSE(store.KeyExists(std::string(kKey) + "\\Filters"));
  EXPECT_TRUE(store.KeyExists("Software\\DunmereIncProducts"));
  EXPECT_FALSE(store.SetValue("\\\\", "x", RegistryValue::Dword(1)));  // no key, no value
}

TEST_F(RegistryTest, DamagedLinesAreSkippedAndTheRestIsRead) {
  ASSERT_TRUE(ReplaceFileContents(m_path,
                                  "PelorinPro registry 1\n[Software\\A]\n\"Good\"=dword:0000002a\n"
                                  "\"Bad\"=dword:xyz\n\"Odd\"=hex:1,2\ngarbage line\n\"Unterminated=\"x\n"
                                  "[]\n\"Lost\"=\"no key\"\n[Software\\B]\n\"Text\"=\"ok\"\n"));
  Registry store(m_path);
  EXPECT_EQ(store.GetValue("Software\\A", "Good"), RegistryValue::Dword(42));
  EXPECT_FALSE(store.GetValue("Software\\A", "Bad").has_value());
  EXPECT_FALSE(store.GetValue("Software\\A", "Odd").has_value());
  EXPECT_FALSE(store.GetValue("Software\\A", "Lost").has_value());
  EXPECT_EQ(store.GetValue("Software\\B", "Text"), RegistryValue::String("ok"));
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kWrites = 150;
  auto writer = [&](const char* prefix) {
    Registry store(m_path);
    for (int i = 0; i < kWrites; ++i)
      if (!store.SetValue(kKey, prefix + std::to_string(i), RegistryValue::Dword(static_cast<std::uint32_t>(i))))
        _exit(1);
    _exit(0);
  };
  const pid_t first = fork();
  if (first == 0) writer("A");
  const pid_t second = fork();
  if (second == 0) writer("B");
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(waitpid(second, &status, 0), second);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  Registry store(m_path);
  EXPECT_EQ(store.ValueNames(kKey).size(), 2u * kWrites);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(store.GetValue(kKey, "A" + std::to_string(i)), RegistryValue::Dword(static_cast<std::uint32_t>(i)));
    EXPECT_EQ(store.GetValue(kKey, "B" + std::to_string(i)), RegistryValue::Dword(static_cast<std::uint32_t>(i)));
  }
}

TEST_F(RegistryTest, AWriterKilledMidWayLeavesAConsistentStore) {
  // Each value holds 64 KiB of one repeated byte, so a torn write would show as mixed bytes.
  {
    Registry store(m_path);
    ASSERT_TRUE(store.SetValue(kKey, "Keep", RegistryValue::String("kept")));
  }
  for (int round = 0; round < 5; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      Registry store(m_path);
      for (std::uint32_t i = 0;; ++i)
        store.SetValue(kKey, "Blob", RegistryValue::Binary(std::vector<std::uint8_t>(65536, static_cast<std::uint8_t>(i))));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + 17 * round));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    Registry store(m_path);
    EXPECT_EQ(store.GetValue(kKey, "Keep"), RegistryValue::String("kept"));
    if (const auto blob = store.GetValue(kKey, "Blob")) {
      ASSERT_EQ(blob->bytes.size(), 65536u);
      for (std::uint8_t b : blob->bytes) ASSERT_EQ(b, blob->bytes[0]);
    }
    // The lock died with the writer: the store takes new writes at once.
    EXPECT_TRUE(store.SetValue(kKey, "After", RegistryValue::Dword(static_cast<std::uint32_t>(round))));
  }
}

TEST_F(RegistryTest, ProfileReadsGiveTheirDefaultForMissingOrOtherTypes) {
  setenv("PELORIN_REGISTRY", m_path.c_str(), 1);
  AppProfile profile("DunmereIncProducts\\Setup", "PelorinPro");
  EXPECT_EQ(profile.AppKey(), kKey);
  EXPECT_EQ(profile.GetProfileInt("", "ScanList", 5), 5);
  EXPECT_EQ(profile.GetProfileString("", "Layout", "18"), "18");
  ASSERT_TRUE(profile.WriteProfileInt("", "AdapterCurr", -1));
  EXPECT_EQ(profile.GetProfileInt("", "AdapterCurr", 0), -1);
  EXPECT_EQ(profile.GetProfileString("", "AdapterCurr", "text"), "text");  // a number is no text
  ASSERT_TRUE(profile.WriteProfileBinary("Filters", "OrIp", {}));
  EXPECT_EQ(profile.GetProfileInt("Filters", "OrIp", 7), 7);
  EXPECT_EQ(profile.GetProfileBinary("Filters", "OrIp"), std::vector<std::uint8_t>{});
  EXPECT_FALSE(profile.GetProfileBinary("Filters", "Missing").has_value());
  EXPECT_EQ(Registry::Current().GetValue(std::string(kKey) + "\\Filters", "OrIp")->type,
            RegistryValue::Type::Binary);
  unsetenv("PELORIN_REGISTRY");
}
