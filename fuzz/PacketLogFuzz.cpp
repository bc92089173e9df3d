// The packet log readers on a file of any content: the record walk and the read by position of
// the log file, the capture thread's LogReadNext, LogRead and LogGetMaxRecNum, the block reader
// of the search windows, and the reload of a page into the packet pane.
#include <cstring>
#include <vector>

#include "PaneHost.h"
#include "wincap/PacketLogBlockReader.h"
#include "wincap/PacketLogFile.h"

namespace {

constexpr LONG kBuffer = 0xFFFFF;  // the readers' buffer, larger than any record

LONG PositionFrom(const std::uint8_t* data, std::size_t size) {
  std::int32_t position = 0;
  if (size >= 4) std::memcpy(&position, data, 4);
  return position;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MonListIpMon& pane = fuzz::PacketPane();
  MonListIpMonCWinThread* thread = pane.GetCaptureThread();
  const std::string path = fuzz::WriteFile("PelorinProLogPkt.rec", data, size);
  static std::vector<std::uint8_t> buffer(kBuffer);

  {
    PacketLogFile file;
    fuzz::Check(file.OpenReadOnly(path), "the log opens");
    std::string source, destination, time;
    _LogRecMarker header{};
    LONG position = -1;
    LONG records = 0;
    for (LONG read; (read = file.ReadNext(&position, buffer.data(), kBuffer, &source, &destination, &time, &header)) > 0;) {
      fuzz::Check(read == header.dataLength && file.Tell() <= static_cast<std::int64_t>(size), "a read stays in the file");
      ++records;
    }
    // A small buffer: the record is cut to it, never written past it.
    file.Seek(0);
    file.ReadNext(&position, buffer.data(), 7, nullptr, nullptr, nullptr);
    file.Read(PositionFrom(data, size), buffer.data(), kBuffer, &source, &destination, &time);
    file.Read(0, buffer.data(), 1, nullptr, nullptr, nullptr);
    // The position a record's header stores is the file's word, whatever it says.
    fuzz::Check(records > 0 || file.GetMaxRecNum() == 0, "an empty walk names no last record");
  }

  {
    PacketLogBlockReader reader;
    fuzz::Check(reader.Open(path), "the block reader opens");
    PacketLogBlockReader::Record record{};
    std::int64_t previous = -1;
    while (reader.Next(record)) {
      fuzz::Check(record.position > previous, "the walk goes forward");
      fuzz::Check(record.position + 100 + record.header.dataLength <= static_cast<std::int64_t>(size),
                  "a record lies in the file");
      previous = record.position;
    }
  }

  // The capture thread's own readers and its reload, on the file as it is now.
  thread->LogUseCurrent(1);
  LONG position = 0;
  std::string time;
  thread->LogReadNext(&position, buffer.data(), kBuffer, nullptr, nullptr, &time);
  thread->LogRead(PositionFrom(data, size), buffer.data(), kBuffer, nullptr, nullptr, nullptr);
  thread->LogGetMaxRecNum();
  pane.LoadLastLog(size > 8 ? PositionFrom(data + 4, size - 4) % 512 : -1);
  fuzz::Check(fuzz::WaitDone([thread] { return thread->IsLogLast() == 0; }), "the reload ends");
  fuzz::Check(pane.GetItemCount() <= thread->LogGetPageSize(), "a reload shows at most a page");
  return 0;
}
