#pragma once
// The Qt application and session a Qt test program runs in (offscreen unless told otherwise),
// and bounded runs of its event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>

#include "ui/qt/QtUiSession.h"

namespace qt_test {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    m_app = new QApplication(m_argc, m_argv);
    m_session = new QtUiSession();
  }
  void TearDown() override {
    delete m_session;
    delete m_app;
  }

 private:
  int m_argc = 1;
  char m_name[16] = "pelorin-test";
  char* m_argv[2] = {m_name, nullptr};
  QApplication* m_app = nullptr;
  QtUiSession* m_session = nullptr;
};

inline void RunEvents(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Where a screenshot goes: folder/name, marked "-2x" before the extension when the test runs at
// twice the scale, so both runs keep their pictures side by side.
inline std::string ScreenshotPath(const std::string& folder, const std::string& name) {
  std::string file = name;
  if (qgetenv("QT_SCALE_FACTOR") == "2") file.insert(std::min(file.rfind('.'), file.size()), "-2x");
  return folder + "/" + file;
}

inline bool RunEventsUntil(const std::function<bool()>& condition, int limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition() && std::chrono::steady_clock::now() < deadline) RunEvents(10);
  return condition();
}

}  // namespace qt_test
