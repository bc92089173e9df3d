#pragma once
// Shared set-up of the statistics pane tests: a private registry, the test thread as the
// user-interface thread, and helpers that read a pane's rows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "controls/framework/PelorinCThread.h"
#include "platform/AppProfile.h"
#include "ui/ListControl.h"
#include "ui/UiPump.h"

class StatsPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_registry = "/tmp/pelorin-stats-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".reg";
    std::remove(m_registry.c_str());
    ::setenv("PELORIN_REGISTRY", m_registry.c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
  }
  void TearDown() override {
    std::remove(m_registry.c_str());
    ::unsetenv("PELORIN_REGISTRY");
  }

  AppProfile m_app;
  std::string m_registry;
};

// The rows of the panes on this machine: the IPv6 ones where it has IPv6.
inline bool HasIpv6() { return std::filesystem::exists("/proc/net/snmp6"); }
inline std::vector<std::string> ProtocolLabels() {
  if (HasIpv6()) return {"TCP", "UDP", "ICMP", "UDPv6", "ICMPv6"};
  return {"TCP", "UDP", "ICMP"};
}
inline std::vector<std::string> IpLabels() {
  if (HasIpv6()) return {"IP", "IPv6"};
  return {"IP"};
}
inline int ProtocolRows() { return static_cast<int>(ProtocolLabels().size()); }
inline int IpRows() { return static_cast<int>(IpLabels().size()); }

// Every first-column text, top to bottom.
inline std::vector<std::string> Labels(const ListControl& list) {
  std::vector<std::string> labels;
  for (int row = 0; row < list.GetItemCount(); ++row) labels.push_back(list.GetItemText(row, 0));
  return labels;
}

// The cell as the platform's 32-bit counter it shows.
inline std::uint32_t Counter(const ListControl& list, int row, int subItem) {
  const std::string text = list.GetItemText(row, subItem);
  EXPECT_FALSE(text.empty()) << "row " << row << " sub-item " << subItem;
  return text.empty() ? 0 : static_cast<std::uint32_t>(std::stoll(text));
}

// Pumps until the worker has finished `passes` whole passes begun after this call.
inline bool WaitForPasses(PelorinCThread* thread, DWORD passes, DWORD timeoutMs = 10000) {
  const DWORD start = thread->GetCount();
  return UiPump::Instance().PumpUntil([&] { return thread->GetCount() >= start + passes + 1; }, timeoutMs);
}
