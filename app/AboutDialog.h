#pragma once
#include "ui/Dialog.h"

// The About box (dialog 100): the program's icon, name and version, its release years and the maker's
// contact lines in a read-only text block, which also names the manual.
class AboutDialog : public Dialog {
 public:
  static constexpr UINT kIdd = 100;
  static constexpr UINT kContactText = 1000;
  static constexpr UINT kProgramIcon = 1001;
  explicit AboutDialog(Window* parent);
  static DialogTemplate MakeTemplate();

 protected:
  bool OnInitDialog() override;
};
