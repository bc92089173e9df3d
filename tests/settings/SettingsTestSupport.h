#pragma once
// Shared by the settings dialog tests: a private registry store and working folder per test,
// the test thread as the user-interface thread, and the four real panes with their threads.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"

namespace settings_test {

// The suites are named settings_... so that a run can pick them out by that name.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_oldDir = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);  // the connection log is written here
    ::setenv("PELORIN_REGISTRY", (m_dir + "/registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
  }
  void TearDown() override {
    ClosePanes();
    UiPump::Instance().PumpPending();
    std::filesystem::current_path(m_oldDir);
    ::unsetenv("PELORIN_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

  // The four panes as the frame makes them; their threads wait for a start.
  void CreatePanes() {
    m_app.WriteProfileString("", "IpMonLogCurrent", m_dir + "/PelorinProLogPkt.rec");
    m_connections = std::make_unique<MonListMon>(&m_app, "Connections", "PelorinPro");
    ASSERT_EQ(m_connections->MonListCreate(nullptr, 1024, Rect{0, 0, 600, 200}), 0);
    m_packets = std::make_unique<MonListIpMon>(&m_app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
    ASSERT_EQ(m_packets->MonListCreate(nullptr, 1025, Rect{0, 0, 600, 200}), 0);
    // The capture thread reads its log switch once it runs; wait for that so a later read of
    // the profile cannot be mistaken for a setting handed over by a dialog.
    MonListIpMonCWinThread* capture = m_packets->GetCaptureThread();
    ASSERT_NE(capture, nullptr);
    ASSERT_TRUE(WaitUntil([capture] { return capture->IsLogOpen() != 0; }, 5000));
    m_stats = std::make_unique<MonListStat>(&m_app, "PelorinPro");
    ASSERT_EQ(m_stats->MonListCreate(nullptr, 1026, Rect{0, 0, 600, 200}), 0);
    m_statsIp = std::make_unique<MonListStatIp>(&m_app, "PelorinPro");
    ASSERT_EQ(m_statsIp->MonListCreate(nullptr, 1027, Rect{0, 0, 600, 200}), 0);
  }
  void ClosePanes() {
    if (m_packets) m_packets->ProcessClose();
    if (m_connections) m_connections->ProcessClose();
    if (m_stats) m_stats->ProcessClose();
    if (m_statsIp) m_statsIp->ProcessClose();
    m_packets.reset();
    m_connections.reset();
    m_stats.reset();
    m_statsIp.reset();
  }

  // The profile value as stored, or nothing when it was never written.
  std::optional<std::int32_t> Stored(const char* name) const {
    constexpr std::int32_t kAbsent = INT32_MIN;
    const std::int32_t value = m_app.GetProfileInt("", name, kAbsent);
    if (value == kAbsent) return std::nullopt;
    return value;
  }
  std::optional<std::string> StoredText(const char* name) const {
    const std::string absent = "(never written)";
    const std::string value = m_app.GetProfileString("", name, absent);
    if (value == absent) return std::nullopt;
    return value;
  }

  template <typename Condition>
  static bool WaitUntil(Condition condition, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= end) return condition();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  AppProfile m_app;
  std::string m_dir, m_oldDir;
  std::unique_ptr<MonListMon> m_connections;
  std::unique_ptr<MonListIpMon> m_packets;
  std::unique_ptr<MonListStat> m_stats;
  std::unique_ptr<MonListStatIp> m_statsIp;
};

}  // namespace settings_test
