#include <cstdio>

#include "controls/framework/CPelorinControlsApp.h"
#include "platform/AppProfile.h"
#include "wincap/CPelorinWinCapApp.h"

int main() {
  AppProfile profile("DunmereIncProducts\\Setup", "PelorinPro");
  CPelorinWinCapApp::Instance().InitInstance();
  CPelorinControlsApp::Instance().InitInstance();
  std::printf("Pelorin Pro v3.1 (profile %s in %s)\n", profile.AppKey().c_str(), profile.Store().Path().c_str());
  return 0;
}
