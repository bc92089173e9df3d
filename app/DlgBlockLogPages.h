#pragma once
#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class ListControl;

// "Rule Log Pages": one row per page of a rule log, with the time of the page's first record.
// OK hands back the chosen page.
class DlgBlockLogPages : public Dialog {
 public:
  static constexpr int IDD = 138;
  static constexpr int IDC_LIST_PAGES = 1380;

  DlgBlockLogPages(Window* parent, std::string logFile);
  ~DlgBlockLogPages() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  void OnOK() override;

  // The page chosen with OK, -1 when none.
  std::int64_t GetSelectedPage() const { return m_page; }
  int GetPageCount() const;

 private:
  ListControl* List() const;

  std::string m_logFile;
  std::int64_t m_page = -1;
};
