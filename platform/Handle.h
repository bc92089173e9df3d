#pragma once
#include "common/WinTypes.h"

// Handles of kernel-like objects (snapshots, ...). A handle is the address of a HandleObject;
// CloseHandle destroys it. INVALID_HANDLE_VALUE is what the creating calls return on failure.
using HANDLE = void*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Base of every object handed out as a HANDLE. The kind tag lets each call check that it was
// given a handle of its own sort before using it.
class HandleObject {
 public:
  explicit HandleObject(DWORD kind) : m_kind(kind) {}
  virtual ~HandleObject() = default;
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;
  DWORD Kind() const { return m_kind; }

 private:
  DWORD m_kind;
};

// Hands the object out as a handle (the handle owns it from then on).
HANDLE MakeHandle(HandleObject* object);

// The object behind a handle of the given kind, or null (last error ERROR_INVALID_HANDLE) for
// null, INVALID_HANDLE_VALUE, a closed handle or a handle of another kind.
HandleObject* HandleTarget(HANDLE handle, DWORD kind);

// Destroys the object; FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL CloseHandle(HANDLE handle);
