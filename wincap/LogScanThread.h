#pragma once
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// A walk over a packet log that runs beside the user-interface thread, owned by the dialog that
// shows its results. The job hands over rows as it finds them and notes how far it has got; the
// dialog takes the rows on its timer. Stopping asks the job to end and waits for it, which is
// quick because the job looks at the stop flag after every record. The destructor stops it.
template <class Row>
class LogScanThread {
 public:
  using Job = std::function<void(LogScanThread&)>;

  LogScanThread() = default;
  ~LogScanThread() { Stop(); }
  LogScanThread(const LogScanThread&) = delete;
  LogScanThread& operator=(const LogScanThread&) = delete;

  // Stops a job that still runs, drops its rows and starts this one.
  void Start(Job job, std::int64_t total) {
    Stop();
    {
      std::lock_guard<std::mutex> lock(m_rowsLock);
      m_rows.clear();
    }
    m_stop.store(false);
    m_finished.store(false);
    m_done.store(0);
    m_total.store(total);
    m_thread = std::thread([this, job = std::move(job)] {
      pthread_setname_np(pthread_self(), "log scan");
      job(*this);
      m_finished.store(true);
    });
  }

  // Asks a job that still runs to end, and waits for it.
  void Stop() {
    if (!m_finished.load()) m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
  }

  // Job side.
  const std::atomic<bool>& StopFlag() const { return m_stop; }
  std::atomic<std::int64_t>& Done() { return m_done; }  // bytes walked
  void SetTotal(std::int64_t total) { m_total.store(total); }
  void Add(Row row) {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    m_rows.push_back(std::move(row));
  }

  // Dialog side.
  bool IsStarted() const { return m_thread.joinable(); }
  bool IsFinished() const { return m_finished.load(); }
  // Whether the job was asked to end before it had finished.
  bool IsStopRequested() const { return m_stop.load(); }
  // Rows handed over since the last call, oldest first, at most max of them.
  std::vector<Row> Take(std::size_t max) {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    std::vector<Row> taken;
    if (m_rows.size() <= max) {
      taken.swap(m_rows);
      return taken;
    }
    const auto end = m_rows.begin() + static_cast<std::ptrdiff_t>(max);
    taken.assign(std::make_move_iterator(m_rows.begin()), std::make_move_iterator(end));
    m_rows.erase(m_rows.begin(), end);
    return taken;
  }
  bool HasRows() const {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    return !m_rows.empty();
  }
  // The part walked, 0..100.
  int Percent() const {
    const std::int64_t total = m_total.load(), done = m_done.load();
    if (total <= 0) return m_finished.load() ? 100 : 0;
    return static_cast<int>(std::min<std::int64_t>(100, done * 100 / total));
  }

 private:
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
  std::atomic<std::int64_t> m_done{0};
  std::atomic<std::int64_t> m_total{0};
  mutable std::mutex m_rowsLock;
  std::vector<Row> m_rows;
  std::thread m_thread;
};
