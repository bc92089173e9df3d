#pragma once
#include <cstdint>
#include <ctime>
#include <string>

// Time texts of the rows, logs and windows, in local time.
constexpr char kTimeFormat[] = "%m/%d/%y %H:%M:%S";          // 12/07/26 06:22:48
constexpr char kTimeFormatLongYear[] = "%m/%d/%Y %H:%M:%S";  // 12/07/2026 06:22:48
constexpr char kSpanFormat[] = "%H:%M:%S";

// Formats seconds since 1970 (UTC) as local time with a strftime format.
std::string FormatLocalTime(std::time_t seconds, const char* format = kTimeFormat);

// "%m/%d/%y %H:%M:%S" + ":" + three digits of milliseconds, the packet time text.
std::string FormatMillisTime(std::time_t seconds, int milliseconds);
// The same into text, reusing its storage (the capture thread formats one per packet).
void FormatMillisTime(std::time_t seconds, int milliseconds, std::string& text);

// The current time as the packet time text.
std::string NowMillisText();

// A span of seconds as "%H:%M:%S" where the hours are hours of the day: 24 hours and more wrap.
std::string FormatSpan(std::int64_t seconds);
