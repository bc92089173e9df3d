#pragma once
#include <string>

#include "ui/UiTypes.h"

class Window;

// The program's manual, an HTML file in the data folder beside the program's bin folder
// (share/PelorinPro under Setup's prefix, share/pelorinpro under /usr): where the installation
// puts it and where the build puts it next to the built program, so both find it the same way.
inline constexpr char kHelpFileName[] = "Pelorin.html";
std::string HelpFilePath();

// The help request (F1, Help > Help Topics): opens the manual with the desktop's handler; when
// that fails, a message box says where the manual is, so the user can open it by hand.
void ShowHelp(Window* owner, UINT command);
