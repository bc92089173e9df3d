#include "controls/trace/CWhoIsQuery.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "common/AddressText.h"
#include "platform/NameLookup.h"

namespace {

// Closes the socket when the query ends, whichever way.
class SocketCloser {
 public:
  explicit SocketCloser(int socket) : m_socket(socket) {}
  ~SocketCloser() {
    if (m_socket >= 0) close(m_socket);
  }
  SocketCloser(const SocketCloser&) = delete;
  SocketCloser& operator=(const SocketCloser&) = delete;

 private:
  int m_socket;
};

}  // namespace

BOOL CWhoIsQuery::SetServer(const std::string& server) {
  m_server = server;
  m_address.clear();
  m_port = kPort;
  std::string host = server;
  const std::size_t colon = server.rfind(':');
  if (colon != std::string::npos) {
    char* end = nullptr;
    const long port = std::strtol(server.c_str() + colon + 1, &end, 10);
    if (end != nullptr && *end == 0 && port > 0 && port <= 65535 && colon + 1 < server.size()) {
      host = server.substr(0, colon);
      m_port = static_cast<unsigned short>(port);
    }
  }
  const std::vector<sockaddr_storage> found = NameLookup(&m_cancel).Addresses(host, AF_INET, SOCK_STREAM);
  if (found.empty()) return 0;
  m_address = InetNtoa(reinterpret_cast<const sockaddr_in*>(&found.front())->sin_addr.s_addr);
  return 1;
}

std::string CWhoIsQuery::BuildQuery(const std::string& prefix, const std::string& text) {
  return prefix.empty() ? text + "\r\n" : prefix + " " + text + "\r\n";
}

bool CWhoIsQuery::WaitFor(int socket, short events, int ms) {
  pollfd waits[2] = {{socket, events, 0}, {m_cancel.Descriptor(), POLLIN, 0}};
  for (;;) {
    const int ready = poll(waits, waits[1].fd >= 0 ? 2 : 1, ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (waits[1].revents & POLLIN)) return false;
    return (waits[0].revents & (events | POLLHUP | POLLERR)) != 0;
  }
}

std::string CWhoIsQuery::Query(const std::string& query) {
  if (m_address.empty() || m_cancel.IsSet()) return {};
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return {};
  SocketCloser closer(s);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(m_port);
  to.sin_addr.s_addr = InetAddr(m_address.c_str());
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS || !WaitFor(s, POLLOUT, kConnectWaitMs)) return {};
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return {};
  }
  for (std::size_t sent = 0; sent < query.size();) {
    const ssize_t n = send(s, query.data() + sent, query.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(s, POLLOUT, kConnectWaitMs)) return {};
    } else {
      return {};
    }
  }

  // Read in pieces until the server closes; a wait of kReadWaits empty reads in a row (nothing
  // yet, or a stalled answer) ends it too.
  std::string answer;
  int emptyReads = 0;
  while (answer.size() < kMaxAnswer && emptyReads < kReadWaits) {
    if (!WaitFor(s, POLLIN, kReadWaitMs)) {
      if (m_cancel.IsSet()) break;
      ++emptyReads;
      continue;
    }
    char piece[kReadPiece];
    const std::size_t want = std::min<std::size_t>(sizeof piece, kMaxAnswer - answer.size());
    const ssize_t n = recv(s, piece, want, 0);
    if (n > 0) {
      answer.append(piece, static_cast<std::size_t>(n));
      emptyReads = 0;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      continue;
    } else {
      break;  // closed (or reset): the answer is complete
    }
  }
  return answer;
}

std::string CWhoIsQuery::ToCrLf(const std::string& answer) {
  std::string text;
  text.reserve(std::min(answer.size() + answer.size() / 8, kMaxText));
  for (char c : answer) {
    if (c == '\n' && (text.empty() || text.back() != '\r')) {
      if (text.size() + 2 > kMaxText) break;
      text += "\r\n";
    } else {
      if (text.size() + 1 > kMaxText) break;
      text += c;
    }
  }
  return text;
}
