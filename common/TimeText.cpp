#include "TimeText.h"

#include <sys/time.h>

#include <cstdio>
#include <cstring>

std::string FormatLocalTime(std::time_t seconds, const char* format) {
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, n);
}

void FormatMillisTime(std::time_t seconds, int milliseconds, std::string& text) {
  // Packets arrive many per second: the seconds part is formatted once per second per thread.
  thread_local std::time_t cachedSecond = -1;
  thread_local char cachedText[32];
  thread_local std::size_t cachedLength = 0;
  if (seconds != cachedSecond) {
    std::tm parts{};
    localtime_r(&seconds, &parts);
    cachedLength = std::strftime(cachedText, sizeof cachedText, kTimeFormat, &parts);
    cachedSecond = seconds;
  }
  if (milliseconds < 0) milliseconds = 0;
  if (milliseconds > 999) milliseconds = 999;
  char millis[4] = {':', static_cast<char>('0' + milliseconds / 100), static_cast<char>('0' + milliseconds / 10 % 10),
                    static_cast<char>('0' + milliseconds % 10)};
  text.assign(cachedText, cachedLength);
  text.append(millis, sizeof millis);
}

std::string FormatMillisTime(std::time_t seconds, int milliseconds) {
  std::string text;
  FormatMillisTime(seconds, milliseconds, text);
  return text;
}

std::string NowMillisText() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return FormatMillisTime(now.tv_sec, static_cast<int>(now.tv_usec / 1000));
}

std::string FormatSpan(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t ofDay = seconds % 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(ofDay / 3600),
                static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60));
  return text;
}
