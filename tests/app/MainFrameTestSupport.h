#pragma once
// Shared by the frame suites: the program started headless on a private registry and working
// folder, with the real panes wrapped to record the calls the frame makes on them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/CPelorinProApp.h"
#include "app/MenuIds.h"
#include "common/Messages.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/framework/DlgPelorinLogSelect.h"
#include "controls/framework/DlgPelorinScanProperties.h"
#include "controls/link/DlgIpMon.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "controls/packets/DlgPelorinFilters.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatCWinThread.h"
#include "controls/stats/MonListStatIp.h"
#include "controls/stats/MonListStatIpCWinThread.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "wincap/DlgPelorinAdapters.h"
#include "ui/UiPump.h"
#include "wincap/DlgPelorinFind.h"
#include "wincap/DlgPelorinLogPages.h"
#include "tests/wincap/PacketLogTestSupport.h"

namespace frame_test {

using Calls = std::vector<std::string>;

// A pane's worker thread may clear its pane while the test thread notes a call of its own.
inline std::mutex g_callsLock;

// A real pane that notes what the frame asks of it.
template <class Base>
class Recording : public Base {
 public:
  template <class... Args>
  Recording(Calls* calls, std::string name, Args&&... args)
      : Base(std::forward<Args>(args)...), m_calls(calls), m_name(std::move(name)) {}
  LONG ListStart() override { return Noted("start", [&] { return Base::ListStart(); }); }
  void ListStop() override { Noted("stop", [&] { Base::ListStop(); }); }
  void ListDeleteAll() override { Noted("clear", [&] { Base::ListDeleteAll(); }); }
  void ProcessClose() override { Noted("close", [&] { Base::ProcessClose(); }); }

 private:
  // Notes the frame's call, not the calls the pane makes on itself while it runs.
  template <class Call>
  auto Noted(const char* what, Call call) {
    if (m_depth == 0) {
      std::lock_guard<std::mutex> lock(g_callsLock);
      m_calls->push_back(std::string(what) + " " + m_name);
    }
    ++m_depth;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{m_depth};
    return call();
  }
  Calls* m_calls;
  std::string m_name;
  int m_depth = 0;
};

class TestFrame : public CMainFrame {
 public:
  explicit TestFrame(Calls* calls) : m_calls(calls) {}
  ~TestFrame() override = default;

 protected:
  std::unique_ptr<PelorinCListView> MakePane(Pane pane, const Rect& client) override {
    AppProfile* app = GetApplication();
    const std::string& path = GetRegistryPath();
    switch (pane) {
      case Pane::Connections:
        return Created(std::make_unique<Recording<MonListMon>>(m_calls, "connections", app, path, kTitle), 1024, client);
      case Pane::Packets:
        return Created(std::make_unique<Recording<MonListIpMon>>(m_calls, "packets", app, path, kTitle), 1027, client);
      case Pane::ProtocolStats:
        return Created(std::make_unique<Recording<MonListStat>>(m_calls, "protocol", app, kTitle), 1025, client);
      case Pane::IpStats:
        return Created(std::make_unique<Recording<MonListStatIp>>(m_calls, "ip", app, kTitle), 1026, client);
    }
    return nullptr;
  }

 private:
  template <class P>
  std::unique_ptr<PelorinCListView> Created(std::unique_ptr<P> pane, UINT id, const Rect& client) {
    if (pane->MonListCreate(this, id, client) != 0) return nullptr;
    return pane;
  }
  Calls* m_calls;
};

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-frame-XXXXXX";
    m_folder = std::string(mkdtemp(pattern)) + "/";
    m_previousFolder = std::filesystem::current_path();
    std::filesystem::current_path(m_folder);
    setenv("PELORIN_REGISTRY", (m_folder + "registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
  }
  void TearDown() override {
    m_app.reset();
    UiPump::Instance().PumpPending();
    std::filesystem::current_path(m_previousFolder);
    unsetenv("PELORIN_REGISTRY");
    std::filesystem::remove_all(m_folder);
  }

  // Starts the program with a layout and an adapter choice ("lo" when not negative) and lets the
  // posted layout commands run.
  CMainFrame* Start(const char* layout, int adapter = -1) {
    if (layout != nullptr) m_profile.WriteProfileString("", "Layout", layout);
    m_profile.WriteProfileInt("", "AdapterCurr", adapter);
    if (adapter >= 0) m_profile.WriteProfileString("", "AdapterCurrName", "lo");
    m_app = std::make_unique<CPelorinProApp>();
    CMainFrame* frame = m_app->InitInstance(std::make_unique<TestFrame>(&m_calls));
    UiPump::Instance().PumpPending();
    return frame;
  }
  bool Choose(CMainFrame* frame, UINT id) { return frame->GetMenu()->Choose(id, frame); }
  bool Enabled(CMainFrame* frame, UINT id) {
    Menu* holder = nullptr;
    frame->GetMenu()->Find(id, MF_BYCOMMAND, &holder);
    holder->UpdateItems(frame);
    return frame->GetMenu()->IsEnabled(id);
  }
  Calls Taken() {
    std::lock_guard<std::mutex> lock(g_callsLock);
    return std::exchange(m_calls, {});
  }

  std::string m_folder;
  std::filesystem::path m_previousFolder;
  ScriptedServices m_script;
  AppProfile m_profile{"DunmereIncProducts\\Setup", "PelorinPro"};
  Calls m_calls;
  std::unique_ptr<CPelorinProApp> m_app;
};

}  // namespace frame_test
