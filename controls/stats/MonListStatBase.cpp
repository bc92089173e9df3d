#include "controls/stats/MonListStatBase.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/ResultCodes.h"
#include "platform/AppProfile.h"

namespace {

constexpr DWORD kCloseWaitMinMs = 1000;
constexpr DWORD kCloseWaitMaxMs = 10000;
constexpr int kDefaultScanSeconds = 10;

}  // namespace

MonListStatBase::MonListStatBase(AppProfile* app, std::string caption) : m_app(app), m_caption(std::move(caption)) {}

MonListStatBase::~MonListStatBase() {
  // The worker calls back into this class; it must be gone before this part of the object.
  ProcessClose();
  DestroyWindow();
}

LONG MonListStatBase::CreatePane(Window* parent, UINT id, const Rect& rect, const char* scanValue,
                                 std::span<const StatColumn> columns) {
  if (GetThread() || ListCreate(parent, id, rect, 1) != S_OK) return E_FAIL;
  std::unique_ptr<PelorinCThreadStatBase> worker = NewWorker();
  if (!worker || !worker->CreateThread(true)) return E_FAIL;
  PelorinCThreadStatBase* raw = worker.get();
  SetThread(std::move(worker));
  m_worker.store(raw);

  const std::int64_t seconds = m_app ? m_app->GetProfileInt("", scanValue, kDefaultScanSeconds) : kDefaultScanSeconds;
  // A negative or oversize setting cannot wrap into a different interval.
  const std::int64_t milliseconds = std::clamp<std::int64_t>(seconds * 1000, 0, UINT32_MAX);
  raw->SetScan(static_cast<DWORD>(milliseconds));

  std::vector<int> order(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const StatColumn& c = columns[i];
    const std::string title = c.title;
    ListColumn column;
    column.title = title;
    column.width = GetStringWidth(std::string(title.size(), 'X')) + c.margin;
    column.format = LVCFMT_LEFT;
    column.subItem = c.subItem;
    ListInsertColumn(static_cast<int>(i), &column);
    if (c.subItem >= 0 && static_cast<std::size_t>(c.subItem) < columns.size())
      order[static_cast<std::size_t>(c.subItem)] = static_cast<int>(i);
  }
  // Columns stand in the order of the sub-items they show, whatever order they were inserted in.
  SetColumnOrderArray(order);
  return S_OK;
}

void MonListStatBase::ProcessClose() {
  Show(0);
  if (PelorinCThread* thread = GetThread()) {
    thread->SetClose();
    thread->SetStop(1);
    const DWORD wait = std::clamp(thread->GetScan(), kCloseWaitMinMs, kCloseWaitMaxMs);
    // The worker ends its pass and clears the list; the wait is over as soon as it rests.
    thread->WaitForQuiet(wait);
    thread->Stop();
    m_worker.store(nullptr);
    TakeThread().reset();  // ends the platform thread
  }
  ListDeleteAll();
}

LONG MonListStatBase::ListStart() {
  if (PelorinCThread* thread = GetThread()) thread->Start("");
  return 0;
}

void MonListStatBase::ListStop() {}

void MonListStatBase::ListDeleteAll() {
  if (PelorinCThreadStatBase* worker = m_worker.load()) worker->ClearRows();
  PelorinCListView::ListDeleteAll();
}

void MonListStatBase::SetDeleteAll(BOOL deleteAll) {
  ListDeleteAll();
  if (PelorinCThreadStatBase* worker = m_worker.load()) worker->SetDeleteAll(deleteAll);
}

void MonListStatBase::SetClose() {
  if (PelorinCThread* thread = GetThread()) thread->SetClose();
}

void MonListStatBase::OnClick(const ListNotify& notify, LRESULT* result) { PelorinCListView::OnClick(notify, result); }

void MonListStatBase::OnColumnclick(const ListNotify&, LRESULT* result) {
  if (result) *result = 0;
}

void MonListStatBase::OnSetFocus(Window* oldWindow) {
  if (Window* parent = GetParentWindow()) parent->SetWindowText(m_caption + CaptionSuffix());
  PelorinCListView::OnSetFocus(oldWindow);
}
