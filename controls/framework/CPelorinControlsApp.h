#pragma once

// The controls library's application object: one per process.
class CPelorinControlsApp {
 public:
  static CPelorinControlsApp& Instance();
  bool InitInstance() { return true; }
};
