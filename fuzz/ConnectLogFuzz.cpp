// The connection log readers on a file of any content: LogReadNext, LogRead, LogGetMaxRecNum and
// the reload of the log into the connections pane.
#include <cstring>
#include <vector>

#include "PaneHost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MonListMon& pane = fuzz::ConnectionsPane();
  PelorinCThreadMonListMon* scanner = pane.Scanner();
  fuzz::WriteFile("PelorinProLogConnect.rec", data, size);
  // Opened afresh: the file was replaced under the scanner's read-ahead.
  scanner->LogUseCurrent(1);

  static std::vector<std::uint8_t> buffer(65535);
  LONG position = 0;
  std::string local, remote, time, type;
  while (scanner->LogReadNext(&position, buffer.data(), 65535, &local, &remote, &time, &type) > 0) {
  }
  scanner->LogReadNext(&position, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
  std::int32_t at = 0;
  if (size >= 4) std::memcpy(&at, data, 4);
  scanner->LogRead(at, buffer.data(), 65535, &local, &remote, &time, &type);
  scanner->LogRead(0, buffer.data(), 3, nullptr, nullptr, nullptr, nullptr);
  scanner->LogGetMaxRecNum();

  pane.LoadLastLog();
  fuzz::Check(fuzz::WaitDone([scanner] { return scanner->IsLogLast() == 0; }), "the reload ends");
  fuzz::Check(pane.GetItemCount() <= static_cast<int>(size / 108), "a row per whole record at most");
  return 0;
}
