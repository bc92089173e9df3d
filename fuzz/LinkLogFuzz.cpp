// A ".cnl" file of any content loaded into a link monitor: a file that is not a whole packet
// log is refused and the monitor keeps its log; one that is becomes the log and its first page
// is shown.
#include <stdlib.h>

#include "PaneHost.h"
#include "controls/link/IpMon.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "wincap/PacketLogBlockReader.h"

namespace {

IpMon& LinkMonitor() {
  static IpMon* monitor = [] {
    fuzz::Profile().WriteProfileString("", PelorinCThreadIpMon::kFolderKey, fuzz::Folder() + "/");
    _MonListMonItemDataIp link{};
    link.localAddr = 0x0100007f;
    link.localPort = 80;
    link.remoteAddr = 0x0200007f;
    link.remotePort = 40000;
    auto* made = new IpMon(&fuzz::Profile(), link, "TCP");
    if (made->MonListCreate(nullptr, 1028, Rect{0, 0, 600, 300}) != 0) abort();
    return made;
  }();
  return *monitor;
}

// Whether the block reader walks the whole file as records, to its last byte.
bool WholeLog(const std::string& path, std::size_t size) {
  PacketLogBlockReader reader;
  if (!reader.Open(path)) return false;
  PacketLogBlockReader::Record record{};
  std::int64_t end = 0;
  while (reader.Next(record)) end = record.position + 100 + record.header.dataLength;
  return end == static_cast<std::int64_t>(size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  IpMon& monitor = LinkMonitor();
  PelorinCThreadIpMon* thread = monitor.GetLinkThread();
  const std::string path = fuzz::WriteFile("link.cnl", data, size);
  const std::string before = thread->LogGet();

  const bool loaded = monitor.LogLoad(path) == IpMon::LogResult::Ok;
  if (!loaded) {
    fuzz::Check(thread->LogGet() == before, "a refused file leaves the log as it was");
    return 0;
  }
  fuzz::Check(WholeLog(path, size), "only a whole packet log is taken");
  fuzz::Check(thread->LogGet() == path, "a loaded file is the log");
  fuzz::Check(monitor.GetItemCount() <= thread->LogGetPageSize(), "a load shows at most a page");
  return 0;
}
