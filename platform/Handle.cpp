#include "platform/Handle.h"

#include <mutex>
#include <unordered_set>

#include "platform/LastError.h"

namespace {
// Open handles are remembered so that a stale or foreign handle is refused instead of being
// dereferenced.
std::mutex g_mutex;
std::unordered_set<HandleObject*>& OpenHandles() {
  static std::unordered_set<HandleObject*> handles;
  return handles;
}
}  // namespace

HANDLE MakeHandle(HandleObject* object) {
  if (object == nullptr) return INVALID_HANDLE_VALUE;
  std::lock_guard<std::mutex> lock(g_mutex);
  OpenHandles().insert(object);
  return object;
}

HandleObject* HandleTarget(HANDLE handle, DWORD kind) {
  auto* object = static_cast<HandleObject*>(handle);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !OpenHandles().contains(object) ||
      object->Kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

BOOL CloseHandle(HANDLE handle) {
  auto* object = static_cast<HandleObject*>(handle);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || OpenHandles().erase(object) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
  }
  delete object;
  return 1;
}
