#pragma once
#include <atomic>
#include <memory>
#include <span>
#include <string>

#include "common/WinTypes.h"
#include "controls/framework/PelorinCListView.h"
#include "controls/stats/PelorinCThreadStatBase.h"
#include "controls/stats/StatColumn.h"

class AppProfile;

// A statistics pane: a single-selection list of counter rows written by its worker, which keeps
// running while the other monitors are stopped. The pane is created with MonListCreate of the
// concrete pane, started once with ListStart and ends its worker in ProcessClose.
class MonListStatBase : public PelorinCListView {
 public:
  // app: where the scan interval is read (may be null: the default applies). caption: the
  // frame's title, shown with the pane's name while the pane has the focus.
  MonListStatBase(AppProfile* app, std::string caption);
  ~MonListStatBase() override;

  // Ends the worker: close and stop flags, a wait of the scan interval (1 to 10 seconds) that is
  // over as soon as the worker rests, then the worker is deleted and the list cleared.
  void ProcessClose() override;
  // Starts (resumes) the worker. Always 0.
  LONG ListStart() override;
  // Nothing: the statistics keep running while the other monitors are stopped.
  void ListStop() override;
  // Makes the worker forget its rows, then clears the list.
  void ListDeleteAll() override;
  // Clears the list at once and asks the worker to clear it again before its next pass, which
  // then rebuilds the rows.
  void SetDeleteAll(BOOL deleteAll);
  // The worker's close flag.
  void SetClose();

  PelorinCThreadStatBase* GetStatThread() const { return m_worker.load(); }
  AppProfile* GetApp() const { return m_app; }
  const std::string& GetCaption() const { return m_caption; }

 protected:
  // The creation both panes share: the list (single selection), the worker (created suspended),
  // the scan interval from the profile value scanValue (seconds, default 10) and the columns.
  // E_FAIL when the list or the worker cannot be created.
  LONG CreatePane(Window* parent, UINT id, const Rect& rect, const char* scanValue,
                  std::span<const StatColumn> columns);
  // The pane's worker, made once the list window exists: the worker keeps the list's handle to
  // acknowledge a stop by.
  virtual std::unique_ptr<PelorinCThreadStatBase> NewWorker() = 0;
  // Appended to the caption in the parent's title while the pane has the focus.
  virtual const char* CaptionSuffix() const = 0;

  void OnClick(const ListNotify& notify, LRESULT* result) override;
  void OnColumnclick(const ListNotify& notify, LRESULT* result) override;
  void OnSetFocus(Window* oldWindow) override;

 private:
  AppProfile* m_app = nullptr;
  std::string m_caption;
  // The worker as its own type; read by the worker itself when it clears the list.
  std::atomic<PelorinCThreadStatBase*> m_worker{nullptr};
};
