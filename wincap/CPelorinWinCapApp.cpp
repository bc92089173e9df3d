#include "wincap/CPelorinWinCapApp.h"

CPelorinWinCapApp& CPelorinWinCapApp::Instance() {
  static CPelorinWinCapApp app;
  return app;
}
