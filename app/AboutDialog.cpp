#include "app/AboutDialog.h"

#include "app/ProgramIcon.h"
#include "ui/HelpFile.h"
#include "ui/StaticText.h"

AboutDialog::AboutDialog(Window* parent) : Dialog(MakeTemplate(), parent) {}

DialogTemplate AboutDialog::MakeTemplate() {
  return DialogTemplate{"About Pelorin",
                        235,
                        110,
                        "MS Sans Serif",
                        8,
                        {LabelItem("", 11, 10, 21, 20, kProgramIcon),
                         LabelItem("Pelorin Pro  v3.1", 40, 10, 119, 8),
                         LabelItem("Copyright (C) 2026", 40, 22, 119, 8),
                         EditItem(kContactText, 7, 38, 221, 46, ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL),
                         DefPushButtonItem(IDOK, "OK", 178, 89, 50, 14)}};
}

bool AboutDialog::OnInitDialog() {
  if (auto* icon = GetDlgItemAs<StaticText>(kProgramIcon)) icon->SetIcon(ProgramIcon128());
  SetDlgItemText(kContactText,
                 "Dunmere Inc. Products\r\n"
                 "Network traffic monitor: connections, packets, protocol statistics and the Ramparo firewall "
                 "console.\r\n"
                 "Manual (F1, Help > Help Topics): " + HelpFilePath());
  return true;
}
