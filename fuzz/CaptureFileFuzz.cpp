// The pcap and pcapng reader of the capture file import on a file of any content: every frame it
// gives out lies inside the bytes it read, within the frame limit, and the reading ends.
#include "FuzzInput.h"
#include "wincap/CaptureFileReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteFile("capture.pcapng", data, size);
  CaptureFileReader reader;
  CaptureFileReader::Status status = reader.Open(path);
  CaptureFileReader::Frame frame;
  std::uint64_t frames = 0;
  std::uint64_t bytes = 0;
  while (status == CaptureFileReader::Status::Frame &&
         (status = reader.Next(frame)) == CaptureFileReader::Status::Frame) {
    fuzz::Check(frame.length <= CaptureFileReader::kMaxFrameLength, "a frame within the limit");
    fuzz::Check(frame.length == 0 || frame.data != nullptr, "a frame has its bytes");
    volatile std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i < frame.length; ++i) sum = static_cast<std::uint8_t>(sum + frame.data[i]);
    bytes += frame.length;
    fuzz::Check(bytes <= size, "frames come from the file's bytes");
    fuzz::Check(++frames == reader.FramesRead(), "frames are counted");
    fuzz::Check(frame.nanoseconds < 1000000000u, "a time within its second");
  }
  fuzz::Check(reader.Offset() <= static_cast<std::int64_t>(size), "the reading stays in the file");
  fuzz::Check((status == CaptureFileReader::Status::End) == reader.ErrorText().empty(), "a stop says why");
  fuzz::Check(reader.Next(frame) == status, "a stop is for good");
  return 0;
}
