#pragma once

// The capture library's application object: one per process.
class CPelorinWinCapApp {
 public:
  static CPelorinWinCapApp& Instance();
  bool InitInstance() { return true; }
};
