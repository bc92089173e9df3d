#include "ui/UiPump.h"

#include <algorithm>

#include "ui/Window.h"

namespace {
using Clock = std::chrono::steady_clock;
// A pump call handles at most this many messages, so that a flood of posts cannot keep the
// user-interface thread from drawing; the rest wait for the next call.
constexpr std::size_t kMaxMessagesPerPump = 20000;
constexpr int kConditionPollMs = 5;  // how often PumpUntil looks at its condition with nothing posted
}  // namespace

UiPump& UiPump::Instance() {
  static UiPump pump;
  return pump;
}

UiPump::UiPump() : m_uiThread(std::this_thread::get_id()) {}

void UiPump::AttachToCurrentThread() { m_uiThread.store(std::this_thread::get_id()); }

bool UiPump::IsUiThread() const { return m_uiThread.load() == std::this_thread::get_id(); }

bool UiPump::Post(const WindowMessage& message) {
  if (message.hwnd == kNoWindow) return false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(message);
  }
  m_changed.notify_all();
  RequestWake();
  return true;
}

void UiPump::MarkDirty(HWND hwnd) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dirty.push_back(hwnd);
  }
  m_changed.notify_all();
  RequestWake();
}

void UiPump::Wake() {
  { std::lock_guard<std::mutex> lock(m_mutex); }
  m_changed.notify_all();
  RequestWake();
}

void UiPump::RequestWake() {
  if (m_wakeRequested.exchange(true)) return;  // one wake-up is already on its way
  std::lock_guard<std::mutex> lock(m_hookLock);
  if (m_wake) m_wake();
}

std::size_t UiPump::PendingMessages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_queue.size();
}

void UiPump::SetTimer(HWND hwnd, UINT id, UINT elapseMs) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const UINT elapse = std::max<UINT>(elapseMs, 1);
    m_timers[{hwnd, id}] = Timer{elapse, Clock::now() + std::chrono::milliseconds(elapse)};
  }
  Wake();
}

bool UiPump::KillTimer(HWND hwnd, UINT id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_timers.erase({hwnd, id}) > 0;
}

void UiPump::KillTimers(HWND hwnd) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_timers.begin(); it != m_timers.end();) {
    if (it->first.first == hwnd) {
      it = m_timers.erase(it);
    } else {
      ++it;
    }
  }
}

int UiPump::MillisecondsToNextTimer() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_timers.empty()) return -1;
  auto next = Clock::time_point::max();
  for (const auto& [key, timer] : m_timers) next = std::min(next, timer.due);
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
  return wait < 0 ? 0 : static_cast<int>(wait);
}

int UiPump::PumpPending() {
  m_wakeRequested.store(false);
  std::deque<WindowMessage> batch;
  std::vector<HWND> dirty;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t take = std::min(m_queue.size(), kMaxMessagesPerPump);
    batch.assign(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(take));
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(take));
    dirty.swap(m_dirty);
  }
  int ran = 0;
  for (const WindowMessage& message : batch) {
    Window::Dispatch(message);
    ++ran;
  }
  std::sort(dirty.begin(), dirty.end());
  dirty.erase(std::unique(dirty.begin(), dirty.end()), dirty.end());
  for (HWND hwnd : dirty) {
    Window* window = Window::FromHandle(hwnd);
    if (window == nullptr || window->GetView() == nullptr) continue;
    const unsigned changes = window->TakeChanges();
    if (changes != 0) window->GetView()->Sync(changes);
  }
  std::vector<std::pair<HWND, UINT>> due;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = Clock::now();
    for (auto& [key, timer] : m_timers) {
      if (timer.due <= now) {
        due.push_back(key);
        timer.due = now + std::chrono::milliseconds(timer.elapseMs);
      }
    }
  }
  for (const auto& [hwnd, id] : due) {
    Window::Dispatch(WindowMessage{hwnd, WM_TIMER, id, 0});
    ++ran;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_queue.empty() || !m_dirty.empty()) {
      m_wakeRequested.store(false);
    } else {
      return ran;
    }
  }
  RequestWake();  // more arrived meanwhile, or the batch was cut short
  return ran;
}

bool UiPump::PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    PumpPending();
    if (condition()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    // The condition may turn on another thread's work with nothing posted: look again often.
    auto until = std::min(deadline, now + std::chrono::milliseconds(kConditionPollMs));
    const int timer = MillisecondsToNextTimer();
    if (timer >= 0) until = std::min(until, now + std::chrono::milliseconds(timer));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_until(lock, until, [this] { return !m_queue.empty() || !m_dirty.empty() || m_wakeRequested.load(); });
    m_wakeRequested.store(false);
  }
}

bool UiPump::RunModalLoop(const std::function<bool()>& done, DWORD headlessLimitMs) {
  ModalLoop loop;
  {
    std::lock_guard<std::mutex> lock(m_hookLock);
    loop = m_modalLoop;
  }
  ++m_modalDepth;
  bool result;
  if (loop) {
    loop(done);
    result = done();
  } else {
    result = PumpUntil(done, headlessLimitMs);
  }
  --m_modalDepth;
  return result;
}

void UiPump::SetWakeHook(std::function<void()> wake) {
  {
    std::lock_guard<std::mutex> lock(m_hookLock);
    m_wake = std::move(wake);
  }
  // Work posted before the hook existed still needs its wake-up.
  m_wakeRequested.store(false);
  RequestWake();
}

void UiPump::SetModalLoop(ModalLoop loop) {
  std::lock_guard<std::mutex> lock(m_hookLock);
  m_modalLoop = std::move(loop);
}
