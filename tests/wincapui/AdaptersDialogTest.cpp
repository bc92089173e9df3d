#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <functional>
#include <string>
#include <vector>

#include "common/FieldText.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "wincap/AdapterDescription.h"
#include "wincap/DlgPelorinAdapters.h"

namespace {

using Row = std::vector<std::string>;  // index, description, name
const Row kClose{"-1", "Close Adapter", "Close Adapter"};
constexpr int kList = DlgPelorinAdapters::IDC_LIST_ADAPTERS;

// From the capture library directly: every device with an address, numbered by its position
// among all devices, then the Close Adapter row.
std::vector<Row> ExpectedRows() {
  std::vector<Row> rows;
  pcap_if_t* devices = nullptr;
  char error[PCAP_ERRBUF_SIZE] = {};
  if (pcap_findalldevs(&devices, error) == 0) {
    int index = 0;
    for (pcap_if_t* d = devices; d != nullptr; d = d->next, ++index)
      if (d->addresses != nullptr) rows.push_back({std::to_string(index), AdapterDescription(*d), d->name});
    pcap_freealldevs(devices);
  }
  rows.push_back(kClose);
  return rows;
}

struct Outcome {
  int result = 0;
  std::vector<Row> shown;
  int selected = -2;
  Row chosen;
};

// Runs the dialog modally: records what it shows, then lets the script act.
Outcome RunDialog(const _PelorinWinCapAdapter* current, const std::function<void(Dialog&)>& act) {
  ScriptedServices services;
  Outcome run;
  services.OnNextModal([&](Dialog& d) {
    auto* list = d.GetDlgItemAs<ListControl>(kList);
    for (int i = 0; i < list->GetItemCount(); ++i)
      run.shown.push_back({list->GetItemText(i, 0), list->GetItemText(i, 1), list->GetItemText(i, 2)});
    run.selected = list->GetNextItem(-1, LVNI_SELECTED);
    act(d);
  });
  DlgPelorinAdapters dialog(nullptr, current);
  run.result = dialog.DoModal();
  const _PelorinWinCapAdapter& a = dialog.GetAdapter();
  run.chosen = {std::to_string(a.index), GetFieldText(a.description), GetFieldText(a.name)};
  EXPECT_EQ(services.UnscriptedModals(), 0);
  return run;
}

}  // namespace

TEST(AdaptersDialog, OpensOnTheCurrentAdapterOrOnCloseAdapter) {
  const std::vector<Row> expected = ExpectedRows();
  int lo = -1;
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (expected[i][2] == "lo") lo = static_cast<int>(i);
  ASSERT_GE(lo, 0) << "lo is not a usable capture device here";
  const int closeRow = static_cast<int>(expected.size()) - 1;
  auto ok = [](Dialog& d) { d.ClickButton(IDOK); };

  // No current record, or one of no adapter or of an index no usable device has.
  _PelorinWinCapAdapter current{};
  for (int index : {-2, -1, 100000}) {
    current.index = index;
    const Outcome run = RunDialog(index == -2 ? nullptr : &current, ok);
    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(run.shown, expected);
    EXPECT_EQ(run.selected, closeRow) << index;
    EXPECT_EQ(run.chosen, kClose) << index;
  }
  // The current record names its device by index; OK without a click returns that device.
  current.index = std::stoi(expected[lo][0]);
  SetFieldText(current.description, "stale");
  Outcome run = RunDialog(&current, ok);
  EXPECT_EQ(run.selected, lo);
  EXPECT_EQ(run.chosen, expected[lo]);

  // A click beside the rows leaves the choice as it was.
  run = RunDialog(&current, [](Dialog& d) {
    d.GetDlgItemAs<ListControl>(kList)->UserClick(-1, 0);
    d.ClickButton(IDOK);
  });
  EXPECT_EQ(run.chosen, expected[lo]);
}

TEST(AdaptersDialog, ClickDoubleClickArrowKeysAndCancel) {
  const std::vector<Row> expected = ExpectedRows();
  const int closeRow = static_cast<int>(expected.size()) - 1;
  ASSERT_GE(closeRow, 1) << "no usable capture device here";
  _PelorinWinCapAdapter current{};
  current.index = std::stoi(expected[0][0]);

  Outcome run = RunDialog(&current, [&](Dialog& d) {
    EXPECT_TRUE(d.SelectListItem(kList, closeRow));
    d.ClickButton(IDOK);
  });
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.chosen, kClose);

  // A double click chooses the row and ends the dialog with OK by itself.
  run = RunDialog(nullptr, [](Dialog& d) { EXPECT_TRUE(d.DoubleClickListItem(kList, 0)); });
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(run.chosen, expected[0]);

  // The row reached with the arrow keys is the one OK returns.
  run = RunDialog(nullptr, [](Dialog& d) {
    d.GetDlgItemAs<ListControl>(kList)->UserMoveSelection(0);
    d.PressEnter();
  });
  EXPECT_EQ(run.chosen, expected[0]);

  run = RunDialog(&current, [&](Dialog& d) {
    d.SelectListItem(kList, closeRow);
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(run.result, IDCANCEL);
  EXPECT_EQ(RunDialog(&current, [](Dialog& d) { d.PressEscape(); }).result, IDCANCEL);
}
