#include "ui/HelpFile.h"

#include <filesystem>

#include "ui/UiServices.h"

std::string HelpFilePath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return kHelpFileName;  // the working folder, as a last resort
  return (program.parent_path().parent_path() / PELORIN_DATA_DIR / kHelpFileName).string();
}

void ShowHelp(Window* owner, UINT command) {
  const std::string path = HelpFilePath();
  if (UiServices::Current().OpenHelpFile(path, command)) return;
  MessageBox(owner, "The manual could not be opened with the desktop's handler (xdg-open).\n\nOpen it in a web browser:\n" + path,
             "Pelorin Help", MB_OK | MB_ICONINFORMATION);
}
