#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "ui/DialogLayout.h"
#include "ui/DialogTemplate.h"
#include "ui/Window.h"

// A dialog made from a template, run modally (DoModal: until EndDialog, returning its code) or
// modeless (CreateModeless: lives until its owner destroys it).
//
// Controls come from the template as children named by their ids (GetDlgItem); a subclass that
// wants its own class for a control overrides CreateControl. Buttons reach OnCommand
// (WM_COMMAND, BN_CLICKED): IDOK calls OnOK and IDCANCEL calls OnCancel unless mapped otherwise;
// the system close calls OnCancel; F1 calls OnHelpInfo.
//
// Ending a modeless dialog hides it and keeps its code; its owner destroys it.
class Dialog : public Window {
 public:
  Dialog() = default;
  explicit Dialog(DialogTemplate dialogTemplate, Window* parent = nullptr);
  ~Dialog() override;

  void SetTemplate(DialogTemplate dialogTemplate) { m_template = std::move(dialogTemplate); }
  const DialogTemplate& Template() const { return m_template; }
  void SetParentWindow(Window* parent) { m_parentWindow = parent; }
  Window* GetParentWindow() const { return m_parentWindow; }

  int DoModal();
  bool CreateModeless(Window* parent = nullptr);
  void EndDialog(int result);
  bool IsModal() const { return m_modal; }
  bool IsEnded() const { return m_ended.load(); }
  int GetResult() const { return m_result.load(); }

  // Dialog units to pixels with the dialog's font: the template's, or a smaller one when the
  // template would not fit on the screen at its own.
  Rect MapDialogRect(const Rect& dialogUnits) const;
  Size GetDialogBaseUnits() const;
  // A dialog with a list or a text pane may be resized: its controls follow its size (see
  // DialogLayout), and it is never made smaller than MinimumClientSize.
  bool IsResizable() const { return !m_layout.Empty(); }
  Size MinimumClientSize() const { return m_layout.BaseSize(); }

  // Control helpers, as the platform names them.
  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;
  void SetDlgItemInt(int id, int value, bool isSigned = true);
  // The field's text as a number; translated (when given) tells whether it was one.
  int GetDlgItemInt(int id, bool* translated = nullptr, bool isSigned = true) const;
  void CheckDlgButton(int id, int check);
  int IsDlgButtonChecked(int id) const;
  void CheckRadioButton(int firstId, int lastId, int checkId);
  int GetCheckedRadioButton(int firstId, int lastId) const;
  void GotoDlgCtrl(Window* control);
  void SetDefID(UINT id) { m_defId = id; }
  UINT GetDefID() const;
  // Fills a list box with the sub-folders of a folder ("[name]", "[..]") and writes the folder's
  // path into a label (when its id is not 0). False when the folder cannot be listed.
  bool DlgDirList(const std::string& folder, int listBoxId, int pathLabelId);

  // Driving by control id (tests, the toolkit): false when the control is missing, hidden,
  // disabled or of another kind.
  bool TypeInto(int id, const std::string& text);
  bool ClickButton(int id);
  bool SelectListItem(int id, int index);     // list box, combo box or report list row
  bool DoubleClickListItem(int id, int index);  // list box or report list row
  bool PressEnter();   // the default button
  bool PressEscape();  // Cancel
  bool PressHelp();    // F1

  virtual bool OnInitDialog() { return true; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

 protected:
  virtual std::unique_ptr<Window> CreateControl(const DialogItem& item);
  bool OnCommand(UINT id, UINT code, HWND control) override;
  void OnClose() override { OnCancel(); }
  void OnSize(UINT type, int cx, int cy) override;

 private:
  bool CreateFromTemplate(Window* parent);
  int FontTenths() const { return m_fontTenths != 0 ? m_fontTenths : m_template.fontPoints * 10; }
  // Picks the font the template fits the screen in.
  void FitFont(const Rect& workArea);

  DialogTemplate m_template;
  Window* m_parentWindow = nullptr;
  bool m_modal = false;
  std::atomic<bool> m_ended{false};
  std::atomic<int> m_result{0};
  UINT m_defId = 0;
  int m_fontTenths = 0;  // 0: the template's
  DialogLayout m_layout;
};
