#pragma once
// A packet pane and a connections pane made once per fuzzing process, headless, with a private
// registry store whose log names point into the process's folder, so that the targets can have
// the panes' own threads reload a log the input has written.
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <thread>

#include "FuzzInput.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"

namespace fuzz {

inline AppProfile& Profile() {
  static AppProfile* profile = [] {
    setenv("PELORIN_REGISTRY", PathOf("registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
    auto* made = new AppProfile;
    made->WriteProfileString("", "IpMonLogCurrent", PathOf("PelorinProLogPkt.rec"));
    made->WriteProfileString("", "IpConnectLogCurrent", PathOf("PelorinProLogConnect.rec"));
    return made;
  }();
  return *profile;
}

// Waits (bounded) until a worker has handled a reload; false when it never did.
template <typename Done>
bool WaitDone(Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

inline MonListIpMon& PacketPane() {
  static MonListIpMon* pane = [] {
    auto* made = new MonListIpMon(&Profile(), "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
    if (made->MonListCreate(nullptr, 1024, Rect{0, 0, 600, 300}) != 0) abort();
    return made;
  }();
  return *pane;
}

inline MonListMon& ConnectionsPane() {
  static MonListMon* pane = [] {
    auto* made = new MonListMon(&Profile(), "Connections", "PelorinPro");
    if (made->MonListCreate(nullptr, 1025, Rect{0, 0, 800, 300}) != 0) abort();
    return made;
  }();
  return *pane;
}

}  // namespace fuzz
