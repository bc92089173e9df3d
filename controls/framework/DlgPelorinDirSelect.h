#pragma once
#include <string>

#include "ui/Dialog.h"

// The modal folder chooser ("Dir(s)"): the sub-folders of one folder, listed as "[name]", and a
// "Create :" field for a new folder's name. OK (or a double click on an entry) makes the result
// the listed folder's path with the name added; with flag 0 the list offers no way up, so the
// choice stays inside the folder.
class DlgPelorinDirSelect : public Dialog {
 public:
  static constexpr int IDD = 2002;  // dialog template number
  static constexpr int IDC_GROUP = 2010;
  static constexpr int IDC_LIST_DIRS = 2011;
  static constexpr int IDC_STATIC_PATH = 2012;  // the listed folder's path
  static constexpr int IDC_EDIT_CREATE = 2013;

  DlgPelorinDirSelect(Window* parent, std::string folder, std::string caption, int flag);
  ~DlgPelorinDirSelect() override;

  static DialogTemplate MakeTemplate();

  // The chosen or typed folder's full path; empty while nothing was chosen.
  const std::string& GetSel() const { return m_sel; }
  // The group box caption.
  void SetTitle(const std::string& text);
  // Removes the entries that lead to a parent folder.
  void UpClean();

  bool OnInitDialog() override;
  void OnOK() override;
  void OnSelChangeList();

 private:
  // Puts a name into the "Create :" field without taking it for typed text.
  void SetName(const std::string& name);

  std::string m_folder;
  std::string m_caption;
  int m_flag = 0;
  std::string m_sel;
  bool m_typed = false;       // the field's text came from the keyboard
  bool m_settingName = false;  // the dialog itself is writing the field
};
