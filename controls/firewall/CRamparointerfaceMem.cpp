#include "controls/firewall/CRamparointerfaceMem.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "controls/firewall/RampaSharedBlock.h"

namespace {

constexpr const char* kDefaultName = "RamparoInterfaceMem.mem";
constexpr int kGateWaitMs = 2000;  // ms; an attach in progress holds the gate for microseconds

// The attach gate: a write record lock on the file's first byte, owned by the open file.
// It is independent of the flock that marks an attachment, so it orders the creator
// decisions without touching who holds the block.
bool LockGate(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool TakeGate(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGateWaitMs);
  for (;;) {
    if (LockGate(fd, F_WRLCK)) return true;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      errno = EAGAIN;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The views of this process that a shrinking file may leave without backing. The fault handler
// reads this table, so it holds only lock-free atomics.
constexpr int kViewSlots = 64;
std::atomic<void*> g_views[kViewSlots];
std::atomic<bool> g_lost[kViewSlots];
struct sigaction g_previousBusAction;

static_assert(std::atomic<void*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Puts zeroed private memory where the view was: every access to it succeeds from now on.
void SwapForZeros(int slot, void* view) {
  ::mmap(view, kRampaMappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  g_lost[slot].store(true);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto* address = static_cast<const std::uint8_t*>(info->si_addr);
  for (int slot = 0; slot < kViewSlots; ++slot) {
    auto* view = static_cast<std::uint8_t*>(g_views[slot].load());
    if (view && address >= view && address < view + kRampaMappingSize) {
      SwapForZeros(slot, view);
      return;  // the access is made again, now on the zeroed memory
    }
  }
  // Not one of ours: whoever handled it before us does, or the signal's default action.
  const struct sigaction& previous = g_previousBusAction;
  if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    ::signal(SIGBUS, SIG_DFL);  // returning makes the fault again, which then ends the process
  }
}

int RegisterView(void* view) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previousBusAction);
  });
  for (int slot = 0; slot < kViewSlots; ++slot) {
    void* empty = nullptr;
    if (g_views[slot].compare_exchange_strong(empty, view)) {
      g_lost[slot].store(false);
      return slot;
    }
  }
  return -1;
}

int FlockRetry(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

CRamparointerfaceMem::CRamparointerfaceMem() : m_memName(kDefaultName), m_memFile(kDefaultName) {}

CRamparointerfaceMem::CRamparointerfaceMem(std::string name, std::string file)
    : m_memName(std::move(name)), m_memFile(std::move(file)) {}

CRamparointerfaceMem::~CRamparointerfaceMem() { CRamparointerfaceMem::MemDetach(); }

std::string CRamparointerfaceMem::MemSetMemName(const std::string& name) {
  m_memName = name;
  return m_memName;
}

std::string CRamparointerfaceMem::MemSetMemNameForce(const std::string& name) {
  m_memName = name;
  return m_memName;
}

std::string CRamparointerfaceMem::MemGetMemName() const { return m_memName; }

void CRamparointerfaceMem::MemSetMemFile(const std::string& file) { m_memFile = file; }

std::string CRamparointerfaceMem::MemGetMemFile() const { return m_memFile; }

void* CRamparointerfaceMem::MemAttach(int* created) {
  if (m_memName.empty()) return nullptr;
  if (m_attached) MemDetach();  // a fresh attach replaces the old one

  // Created when missing, never truncated; not inherited by programs we start, or they
  // would hold our attachment past our detach.
  const int fd = ::open(m_memFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  m_file = fd;
  m_fileOpen = 1;

  if (!TakeGate(fd)) return FailAttach(errno);

  // Whoever can hold the file alone is the first attachment: nobody else has it mapped.
  const bool creator = FlockRetry(fd, LOCK_EX | LOCK_NB) == 0;
  if (!creator && FlockRetry(fd, LOCK_SH | LOCK_NB) != 0) return FailAttach(errno);
  m_mapping = true;

  // Grow a short file so that every byte of the mapping is backed; a longer file stays as it is.
  struct stat st {};
  if (::fstat(fd, &st) != 0) return FailAttach(errno);
  if (st.st_size < static_cast<off_t>(kRampaMappingSize) &&
      ::ftruncate(fd, static_cast<off_t>(kRampaMappingSize)) != 0) {
    return FailAttach(errno);
  }

  void* view = ::mmap(nullptr, kRampaMappingSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return FailAttach(errno);
  m_view = view;
  // Every view must be known to the fault handler; this many attachments in one process are a fault.
  m_viewSlot = RegisterView(view);
  if (m_viewSlot < 0) return FailAttach(EMFILE);

  if (creator) {
    std::memset(view, 0, kRampaMappingSize);
    // flock's conversion drops the lock for an instant; the gate keeps every other attach
    // from deciding in that instant.
    if (FlockRetry(fd, LOCK_SH) != 0) return FailAttach(errno);
  }
  LockGate(fd, F_UNLCK);

  m_created = creator ? 1 : 0;
  m_attached = 1;
  if (created) *created = m_created;
  return m_view;
}

void* CRamparointerfaceMem::FailAttach(int error) {
  GetErrorMsg(static_cast<DWORD>(error));
  MemDetach();  // closing the file drops the gate and the attachment lock
  return nullptr;
}

void CRamparointerfaceMem::ForgetView() {
  if (!m_view) return;
  if (m_viewSlot >= 0) g_views[m_viewSlot].store(nullptr);
  m_viewSlot = -1;
  m_lastResult = ::munmap(m_view, kRampaMappingSize) == 0 ? 1 : 0;
  m_view = nullptr;
}

bool CRamparointerfaceMem::MemCheckView() {
  if (!m_view || MemIsLost()) return false;
  struct stat st {};
  if (::fstat(m_file, &st) == 0 && st.st_size >= static_cast<off_t>(kRampaUsedSize)) return true;
  SwapForZeros(m_viewSlot, m_view);
  return false;
}

bool CRamparointerfaceMem::MemIsLost() const { return m_view && g_lost[m_viewSlot].load(); }

int CRamparointerfaceMem::MemDetach() {
  ForgetView();
  m_mapping = false;
  m_attached = 0;
  if (m_fileOpen) {
    ::close(m_file);
    m_file = -1;
    m_fileOpen = 0;
  }
  m_created = 0;
  return 1;
}

std::string CRamparointerfaceMem::GetErrorMsg(DWORD code) {
  const int error = code == 0 ? errno : static_cast<int>(code);
  char buffer[256];
  const char* text = ::strerror_r(error, buffer, sizeof buffer);  // GNU form: returns the text
  if (!text || !*text) return std::string();
  m_lastError = text;
  return m_lastError;
}
