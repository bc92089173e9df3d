#pragma once
#include <string>

#include "ui/UiTypes.h"

constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

// An open or save file dialog as its caller fills it in. The filter pairs a description with
// patterns, separated by "|" as the platform's file dialog classes take it:
// "Filter Files (*.flt)|*.flt|All Files (*.*)|*.*||".
struct FileDialogRequest {
  bool open = true;
  std::string title;
  std::string filter;
  std::string initialDir;
  std::string fileName;    // proposed name
  std::string defaultExt;  // without the dot
  DWORD flags = 0;
};
