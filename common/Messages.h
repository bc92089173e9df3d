#pragma once
#include <cstdint>

// Message numbers shared between windows and worker threads; the private range starts at 1024.
constexpr std::uint32_t WM_USER = 1024;

constexpr std::uint32_t WM_PELORIN_CLOSE_WINDOW = WM_USER + 1;  // lParam = the window that asks to be closed
constexpr std::uint32_t WM_PELORIN_STOP_ACK = WM_USER + 2;      // wParam 1, lParam = the worker thread

// Route window -> its tracer thread.
constexpr std::uint32_t WM_PELORIN_TRACE = WM_USER + 3;
constexpr std::uint32_t WM_PELORIN_HOST_VITALS_ALL = WM_USER + 4;
constexpr std::uint32_t WM_PELORIN_HOST_VITALS_ONE = WM_USER + 5;
constexpr std::uint32_t WM_PELORIN_WHOIS = WM_USER + 6;

// Capture thread -> its packet pane: the packet log could not be written and logging stopped.
constexpr std::uint32_t WM_PELORIN_LOG_STOPPED = WM_USER + 7;

// List -> worker thread.
constexpr std::uint32_t WM_PELORIN_SET_FEED_WINDOW = WM_USER + 356;     // lParam = the feed window
constexpr std::uint32_t WM_PELORIN_SET_COMPARE_WINDOW = WM_USER + 357;  // lParam = the compare window
constexpr std::uint32_t WM_PELORIN_START_SCAN = WM_USER + 358;
constexpr std::uint32_t WM_PELORIN_STOP_SCAN = WM_USER + 359;
constexpr std::uint32_t WM_PELORIN_DELETE_ALL = WM_USER + 360;
constexpr std::uint32_t WM_PELORIN_LOAD_LAST_LOG = WM_USER + 361;

// Capture thread -> feed and compare windows: wParam frame length (low 32 bits) and the number of
// the log set's file holding the record (high 32 bits), lParam record position.
constexpr std::uint32_t WM_PELORIN_NEW_PACKET = WM_USER + 500;
