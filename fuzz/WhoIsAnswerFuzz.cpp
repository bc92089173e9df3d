// Whois: an answer of any content from a server on 127.0.0.1 (a thread of this process) through
// the query and its line conversion, and the server list file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "FuzzInput.h"
#include "controls/trace/CWhoIsQuery.h"
#include "controls/trace/WhoIsServerList.h"

namespace {

// Answers every connection with the current input, then closes it.
class AnswerServer {
 public:
  AnswerServer() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listener, 8) != 0) abort();
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();  // lives as long as the process
  }
  unsigned short Port() const { return m_port; }
  void SetAnswer(std::string answer) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_answer = std::move(answer);
  }

 private:
  void Serve() {
    for (;;) {
      const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      char query[512];
      [[maybe_unused]] const ssize_t got = ::recv(client, query, sizeof query, 0);
      std::string answer;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        answer = m_answer;
      }
      for (std::size_t sent = 0; sent < answer.size();) {
        const ssize_t n = ::send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::close(client);
    }
  }

  int m_listener = -1;
  unsigned short m_port = 0;
  std::mutex m_lock;
  std::string m_answer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static AnswerServer server;
  const std::string input(reinterpret_cast<const char*>(data), size);
  server.SetAnswer(input);
  CWhoIsQuery query;
  fuzz::Check(query.SetServer("127.0.0.1:" + std::to_string(server.Port())) != 0, "the local server resolves");
  const std::string answer = query.Query(CWhoIsQuery::BuildQuery("", "192.0.2.1"));
  fuzz::Check(answer.size() <= CWhoIsQuery::kMaxAnswer, "the answer is bounded");
  const std::string text = CWhoIsQuery::ToCrLf(answer);
  fuzz::Check(text.size() <= CWhoIsQuery::kMaxText, "the converted text is bounded");
  CWhoIsQuery::ToCrLf(input);

  const std::string path = fuzz::WriteFile(WhoIsServerList::kFileName, data, size);
  const auto names = WhoIsServerList::Read(path);
  fuzz::Check(names.has_value() && names->size() <= size / WhoIsServerList::kRecordSize, "a name per whole record");
  return 0;
}
