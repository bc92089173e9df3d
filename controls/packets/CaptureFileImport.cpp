#include "controls/packets/CaptureFileImport.h"

#include "common/TimeText.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "wincap/PacketLogFile.h"

CaptureFileImport::Result CaptureFileImport::Run(MonListIpMonCWinThread& thread, const std::string& path) {
  Result result;
  CaptureFileReader reader;
  result.status = reader.Open(path);
  std::string time;
  CaptureFileReader::Frame frame;
  while (result.status == CaptureFileReader::Status::Frame &&
         (result.status = reader.Next(frame)) == CaptureFileReader::Status::Frame) {
    if (frame.length == 0 || frame.length > static_cast<std::uint32_t>(PacketLogFile::kMaxDataLength)) {
      ++result.skipped;
      continue;
    }
    FormatMillisTime(static_cast<std::time_t>(frame.seconds), static_cast<int>(frame.nanoseconds / 1000000), time);
    DWORD position = 0;
    if (thread.LogImport(frame.data, static_cast<LONG>(frame.length), time, &position) < 1) {
      result.logClosed = true;
      break;
    }
    if (result.imported++ == 0) result.firstPosition = static_cast<LONG>(position);
  }
  result.stopText = reader.ErrorText();
  return result;
}

std::string CaptureFileImport::Describe(const Result& result) {
  // Appended piece by piece: GCC 12 at -O3 misreads chains of operator+ on temporaries.
  std::string text = std::to_string(result.imported);
  text.append(result.imported == 1 ? " frame" : " frames").append(" imported into the packet log.");
  if (result.skipped > 0) {
    text.append("\n").append(std::to_string(result.skipped));
    text.append(result.skipped == 1 ? " frame" : " frames").append(" passed over (empty, or longer than 65535 bytes).");
  }
  if (result.logClosed) text.append("\nThe packet log cannot be written; the import stopped.");
  if (result.status == CaptureFileReader::Status::Refused)
    text.append("\nThe file was refused: ").append(result.stopText).append(".");
  if (result.status == CaptureFileReader::Status::Damaged)
    text.append("\nThe file is damaged; the import stopped there: ").append(result.stopText).append(".");
  return text;
}
