#pragma once
#include "common/PelorinWinCapAdapter.h"
#include "ui/Dialog.h"
#include "ui/ListNotify.h"

class ListControl;

// The modal "Network Interfaces" dialog: one row per usable capture device (its enumeration
// index, description and device name) and a last "Close Adapter" row that stands for no
// adapter. It opens with the caller's current adapter selected (or the Close Adapter row) and
// ends with the row the user chose in the result record.
class DlgPelorinAdapters : public Dialog {
 public:
  static constexpr int IDD = 3000;                // dialog template number
  static constexpr int IDC_LIST_ADAPTERS = 3000;  // the report list of devices

  // current may be null; it is only read, while the dialog fills its list.
  DlgPelorinAdapters(Window* parent, const _PelorinWinCapAdapter* current);
  ~DlgPelorinAdapters() override;

  static DialogTemplate MakeTemplate();

  // The three columns "Adapter #", "Description", "Adapter", full-row selection.
  void ListCreate();
  // Fills the list and selects the current adapter's row, or the Close Adapter row; returns the
  // number of devices listed (the Close Adapter row not counted).
  int AdaptersShow();

  bool OnInitDialog() override;
  void OnClickListAdapters(const ListNotify& notify, LRESULT* result);
  void OnDblclkListAdapters(const ListNotify& notify, LRESULT* result);
  void OnOK() override;
  void OnCancel() override;

  // The user's choice; meaningful after the dialog ended with IDOK.
  const _PelorinWinCapAdapter& GetAdapter() const { return m_adapter; }

 protected:
  bool OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) override;

 private:
  ListControl* List() const;
  // Copies a row's three texts into the result record; false for no row.
  bool TakeRow(int row);

  const _PelorinWinCapAdapter* m_current = nullptr;
  _PelorinWinCapAdapter m_adapter{};
};
