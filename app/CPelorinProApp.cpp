#include "app/CPelorinProApp.h"

#include "controls/framework/CPelorinControlsApp.h"
#include "wincap/CPelorinWinCapApp.h"

CPelorinProApp::CPelorinProApp() = default;

CPelorinProApp::~CPelorinProApp() = default;

CMainFrame* CPelorinProApp::InitInstance(std::unique_ptr<CMainFrame> frame) {
  CPelorinWinCapApp::Instance().InitInstance();
  CPelorinControlsApp::Instance().InitInstance();
  m_frame = frame ? std::move(frame) : std::make_unique<CMainFrame>();
  // An attachment to another machine's engine never outlives the run.
  m_profile.WriteProfileString("", "RampaMemFileRemote", "");
  m_profile.WriteProfileString("", "CfgFileRemote", "");
  if (!m_frame->LoadFrame()) {
    m_frame.reset();
    return nullptr;
  }
  m_frame->SetApplication(&m_profile);
  m_frame->FrameInit();
  m_frame->ShowWindow(SW_SHOWNORMAL);
  return m_frame.get();
}
