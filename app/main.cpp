#include <cstdio>
#include <cstring>

#include "app/CPelorinProApp.h"
#include "app/MenuIds.h"
#include "app/TerminationWatch.h"
#include "ui/qt/QtUiSession.h"

namespace {

constexpr char kUsage[] =
    "Usage: PelorinPro [--start-scanning]\n"
    "  --start-scanning  start scanning in the panes of the saved layout once they are shown\n"
    "The program holds no capability: it captures and traces through PelorinCaptureHelper beside it,\n"
    "which members of the group pelorinpro may run (sudo adduser USER pelorinpro, then log in again).\n";

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps what it reads of the font cache until the process ends; a user whose cache is
// still empty builds it at the first start, and that must not read as a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

int main(int argc, char** argv) {
  bool startScanning = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--start-scanning") == 0) {
      startScanning = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  TerminationWatch termination;
  CPelorinProApp application;
  return RunApplication(argc, argv, [&]() -> FrameWindow* {
    CMainFrame* frame = application.InitInstance();
    if (frame == nullptr) return nullptr;
    termination.SetTarget(frame->GetSafeHwnd());
    // Queued behind the layout commands, so the panes exist when scanning starts.
    if (startScanning) frame->PostMessage(WM_COMMAND, ID_SCAN_START_STOP, 0);
    return frame;
  });
}
