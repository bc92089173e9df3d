#pragma once
#include "WinTypes.h"

// Status codes returned by operations that can fail.
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);       // window, thread, file or adapter unavailable
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu); // missing argument, object or registry key
