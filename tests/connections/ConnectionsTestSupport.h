#pragma once
// Shared by the connections suites: a private registry and working folder per test, real
// loopback sockets, row snapshots taken under the pane's records lock, and an independent
// reader of the connection log's bytes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/AddressText.h"
#include "common/LogRecMarkerConnect.h"
#include "common/MonListMonItemData.h"
#include "common/MonListMonLogData.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "platform/AppProfile.h"
#include "platform/TaskAllocator.h"
#include "common/TimeText.h"
#include "ui/UiPump.h"

namespace conntest {

// A socket closed when it goes.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : m_fd(fd) {}
  Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      m_fd = other.m_fd;
      other.m_fd = -1;
    }
    return *this;
  }
  ~Socket() { Close(); }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  int fd() const { return m_fd; }
  std::uint16_t LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }

 private:
  int m_fd = -1;
};

inline sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A TCP socket listening on 127.0.0.1 (port 0: any free port).
inline Socket ListenTcp(std::uint16_t port = 0, bool reusePort = false) {
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (reusePort) ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
  const sockaddr_in address = Loopback(port);
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return Socket();
  if (::listen(s.fd(), 128) != 0) return Socket();
  return s;
}

inline Socket BindUdp(std::uint16_t port = 0, bool reusePort = false) {
  Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  if (reusePort) ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
  const sockaddr_in address = Loopback(port);
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return Socket();
  return s;
}

// A client connected to the listener, and the accepted server end.
struct Pair {
  Socket client, server;
};
inline Pair Connect(const Socket& listener) {
  Pair pair;
  pair.client = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = Loopback(listener.LocalPort());
  if (::connect(pair.client.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return Pair{};
  pair.server = Socket(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  return pair;
}

// One row as the test sees it: its texts and a copy of its record, taken in one step.
struct RowView {
  int row = -1;
  std::vector<std::string> texts;
  bool hasRecord = false;
  const void* recordAddress = nullptr;
  _MonListMonItemData record{};
  _MonListMonLogLink link{};
  const std::string& Text(int column) const {
    static const std::string empty;
    return column < static_cast<int>(texts.size()) ? texts[static_cast<std::size_t>(column)] : empty;
  }
};

inline std::vector<RowView> Rows(MonListMon& list, const std::function<bool(const RowView&)>& wanted = {}) {
  std::lock_guard<std::recursive_mutex> lock(list.RecordsLock());
  std::vector<RowView> rows;
  const int count = list.GetItemCount();
  for (int i = 0; i < count; ++i) {
    ListRow row;
    if (!list.GetRow(i, &row)) continue;
    RowView view;
    view.row = i;
    view.texts = row.texts;
    if (const auto* record = reinterpret_cast<const _MonListMonItemData*>(row.data)) {
      view.hasRecord = true;
      view.recordAddress = record;
      view.record = *record;
      if (record->logLink) view.link = *record->logLink;
    }
    if (!wanted || wanted(view)) rows.push_back(std::move(view));
  }
  return rows;
}

// Rows of a type whose local port (column 4) is the one given.
inline std::vector<RowView> RowsOnPort(MonListMon& list, const char* type, std::uint16_t port) {
  const std::string portText = std::to_string(port);
  return Rows(list, [&](const RowView& r) { return r.Text(1) == type && r.Text(4) == portText; });
}

// The log as its bytes say, read without the code under test.
struct LogRecord {
  std::size_t offset = 0;
  _LogRecMarkerConnect header{};
  std::vector<unsigned char> data;
  _MonListMonLogData Data() const {
    _MonListMonLogData d{};
    std::memcpy(&d, data.data(), std::min(data.size(), sizeof d));
    return d;
  }
  std::string Type() const { return std::string(header.typeText, strnlen(header.typeText, sizeof header.typeText)); }
};

inline std::vector<unsigned char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<LogRecord> ParseLog(const std::vector<unsigned char>& bytes) {
  std::vector<LogRecord> records;
  std::size_t at = 0;
  while (bytes.size() - at >= sizeof(_LogRecMarkerConnect)) {
    LogRecord record;
    record.offset = at;
    std::memcpy(&record.header, bytes.data() + at, sizeof record.header);
    const std::int32_t length = record.header.dataLength;
    if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - at - sizeof record.header) break;
    at += sizeof record.header;
    record.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at) + length);
    at += static_cast<std::size_t>(length);
    records.push_back(std::move(record));
  }
  return records;
}

// Records of a type on a local port.
inline std::vector<LogRecord> RecordsOnPort(const std::string& path, const char* type, std::uint16_t port) {
  std::vector<LogRecord> found;
  for (LogRecord& r : ParseLog(FileBytes(path)))
    if (r.Type() == type && r.Data().localPort == port) found.push_back(std::move(r));
  return found;
}

// Whether text has the shape of the pattern, '9' standing for any digit ("99/99/99 99:99:99").
inline bool HasShape(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

inline bool WaitFor(const std::function<bool()>& condition, DWORD ms = 10000) {
  return UiPump::Instance().PumpUntil(condition, ms);
}

// The name under which the scanner shows this test program.
inline std::string OwnName() {
  return PelorinCListView::ProcessNameFormat(std::filesystem::read_symlink("/proc/self/exe").filename().string());
}

// A private registry and working folder per test: the log lands there under its default name.
class ConnectionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-conn-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_oldDir = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    ::setenv("PELORIN_REGISTRY", (m_dir + "/registry.reg").c_str(), 1);
    m_logPath = m_dir + "/PelorinProLogConnect.rec";
    UiPump::Instance().AttachToCurrentThread();
  }
  void TearDown() override {
    if (m_list) m_list->ProcessClose();
    m_list.reset();
    UiPump::Instance().PumpPending();
    std::filesystem::current_path(m_oldDir);
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

  // A created pane whose scanner waits for a start; scan interval in ms.
  MonListMon& CreateList(DWORD scanMs = 50) {
    m_list = std::make_unique<MonListMon>(&m_profile, "Connections", "PelorinPro");
    EXPECT_EQ(m_list->MonListCreate(nullptr, 1024, Rect{0, 0, 800, 300}), 0);
    if (m_list->Scanner()) m_list->Scanner()->SetScan(scanMs);
    return *m_list;
  }
  PelorinCThreadMonListMon& Scanner() { return *m_list->Scanner(); }

  AppProfile m_profile;
  std::string m_dir, m_oldDir, m_logPath;
  std::unique_ptr<MonListMon> m_list;
};

}  // namespace conntest
