#include "controls/framework/CPelorinControlsApp.h"

CPelorinControlsApp& CPelorinControlsApp::Instance() {
  static CPelorinControlsApp app;
  return app;
}
