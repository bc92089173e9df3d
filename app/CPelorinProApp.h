#pragma once
#include <memory>

#include "app/CMainFrame.h"
#include "platform/AppProfile.h"

// The application object: the registry profile "Software\DunmereIncProducts\Setup\PelorinPro"
// and the main frame it builds at start-up.
class CPelorinProApp {
 public:
  static constexpr char kCompanyKey[] = "DunmereIncProducts\\Setup";
  static constexpr char kProfileName[] = "PelorinPro";

  CPelorinProApp();
  ~CPelorinProApp();

  // Prepares the libraries and the profile, then builds, initialises and shows the frame given
  // (a plain CMainFrame when none). Null when the frame's window cannot be created.
  CMainFrame* InitInstance(std::unique_ptr<CMainFrame> frame = nullptr);
  CMainFrame* GetMainWnd() const { return m_frame.get(); }
  AppProfile& Profile() { return m_profile; }

 private:
  AppProfile m_profile{kCompanyKey, kProfileName};
  std::unique_ptr<CMainFrame> m_frame;
};
