#pragma once
// Shared by the firewall console tests: a private registry and working folder per test (the
// program's current directory), the test thread as the user-interface thread, an engine
// registered as installed from the build folder, and the engine processes a test started
// ended when it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>

#include "../firewall/FirewallTestSupport.h"
#include "app/CPelorinProApp.h"
#include "app/FirewallConsole.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previousFolder = std::filesystem::current_path();
    std::filesystem::current_path(m_folder.Path());
    ::setenv("PELORIN_REGISTRY", m_folder.File("registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
    m_app.WriteProfileString("", "Layout", "2");  // the connections pane only
    m_app.WriteProfileInt("", "AdapterCurr", 0);
    m_consoleKey.WriteProfileString("", "RamparoThreadAppLoc", PELORIN_ENGINE_DIR);
    m_engineKey.WriteProfileString("", "RamparoThreadAppLoc", PELORIN_ENGINE_DIR);
  }
  void TearDown() override {
    m_program.reset();
    // An engine still serving the block was started by this test (or by its console).
    if (const auto pid = static_cast<pid_t>(PeekBlock(MemFile(), kRampaEnginePid));
        pid > 0 && PeekBlock(MemFile(), kRampaOffEnginePresent) != 0 && ::kill(pid, SIGTERM) == 0)
      WaitFor([pid] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, std::chrono::seconds(10));
    UiPump::Instance().PumpPending();
    std::filesystem::current_path(m_previousFolder);
    ::unsetenv("PELORIN_REGISTRY");
  }

  std::string MemFile() const { return m_folder.File("RamparoInterfaceMem.mem"); }

  CMainFrame* StartProgram() {
    m_program = std::make_unique<CPelorinProApp>();
    CMainFrame* frame = m_program->InitInstance();
    UiPump::Instance().PumpPending();
    return frame;
  }
  // A console of the test's own on the engine's block.
  void* Watch() {
    m_watch = std::make_unique<CRampaMem>(nullptr, "RamparoInterfaceMem.mem", MemFile());
    return m_watch->MemAttach();
  }
  bool StartOwnEngine() {
    return m_engine.Start(PELORIN_ENGINE_DIR, m_folder.Path()) &&
           WaitFor([&] { return PeekBlock(MemFile(), kRampaOffEnginePresent) != 0; }, std::chrono::seconds(10));
  }

  TempFolder m_folder;
  std::filesystem::path m_previousFolder;
  AppProfile m_app{"DunmereIncProducts\\Setup", "PelorinPro"};
  AppProfile m_engineKey{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
  AppProfile m_consoleKey{"DunmereIncProducts\\Setup", "IpRamparo"};
  ScriptedServices m_script;
  RampaEngineProcess m_engine;
  std::unique_ptr<CRampaMem> m_watch;
  std::unique_ptr<CPelorinProApp> m_program;
};
