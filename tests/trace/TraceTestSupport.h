#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AppProfile.h"
#include "ui/UiPump.h"

namespace trace_test {

inline bool IsRoot() { return geteuid() == 0; }

// A private working folder (the server list file lands there) and registry store for one test;
// the user-interface pump runs on the test's thread.
class TraceEnv {
 public:
  TraceEnv() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-trace-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_folder = pattern;
    m_previous = std::filesystem::current_path();
    std::filesystem::current_path(m_folder);
    setenv("PELORIN_REGISTRY", (m_folder + "/registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
  }
  ~TraceEnv() {
    UiPump::Instance().PumpPending();
    std::filesystem::current_path(m_previous);
    unsetenv("PELORIN_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  TraceEnv(const TraceEnv&) = delete;
  TraceEnv& operator=(const TraceEnv&) = delete;
  AppProfile& App() { return m_app; }

 private:
  std::string m_folder;
  std::filesystem::path m_previous;
  AppProfile m_app;
};

// A whois server on 127.0.0.1 (a free port) answering every connection in one manner.
class WhoIsServer {
 public:
  enum class Manner { Normal, Slow, Empty, Silent, Huge };
  static constexpr char kAnswer[] = "inetnum: 10.0.0.0 - 10.255.255.255\nnetname: PRIVATE\n";
  static constexpr std::size_t kHugeSize = 70000;

  explicit WhoIsServer(Manner manner) : m_manner(manner) {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(m_listener, 8) == 0 &&
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&at), &size) == 0)
      m_port = ntohs(at.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~WhoIsServer() {
    m_stop.store(true);
    m_thread.join();
    close(m_listener);
  }
  WhoIsServer(const WhoIsServer&) = delete;
  WhoIsServer& operator=(const WhoIsServer&) = delete;

  // The server as the route window names it.
  std::string Name() const { return "127.0.0.1:" + std::to_string(m_port); }
  unsigned short Port() const { return m_port; }
  std::vector<std::string> Queries() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queries;
  }
  static std::string HugeAnswer() {
    std::string text;
    while (text.size() < kHugeSize) text += "remarks: a long answer line\n";
    return text;
  }

 private:
  bool Wait(int fd, int ms) {
    pollfd entry{fd, POLLIN, 0};
    for (int waited = 0; waited < ms && !m_stop.load(); waited += 10)
      if (poll(&entry, 1, 10) == 1) return true;
    return false;
  }
  void Send(int fd, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
      const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }
  void Serve() {
    while (!m_stop.load()) {
      if (!Wait(m_listener, 50)) continue;
      const int client = accept(m_listener, nullptr, nullptr);
      if (client < 0) continue;
      std::string query;
      char piece[256];
      while (query.find("\r\n") == std::string::npos && Wait(client, 2000)) {
        const ssize_t n = recv(client, piece, sizeof piece, 0);
        if (n <= 0) break;
        query.append(piece, static_cast<std::size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queries.push_back(query);
      }
      const std::string answer = kAnswer;
      switch (m_manner) {
        case Manner::Normal:
          Send(client, answer);
          break;
        case Manner::Slow:  // late, and with a pause in the middle
          Wait(-1, 700);
          Send(client, answer.substr(0, 10));
          Wait(-1, 400);
          Send(client, answer.substr(10));
          break;
        case Manner::Empty:
          break;
        case Manner::Silent:  // holds the connection open without a word
          Wait(-1, 10000);
          break;
        case Manner::Huge:
          Send(client, HugeAnswer());
          break;
      }
      close(client);
    }
  }

  Manner m_manner;
  int m_listener = -1;
  unsigned short m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::string> m_queries;
  std::thread m_thread;
};

// Bounded wait on any thread's condition while the user-interface pump runs.
template <typename Condition>
bool PumpUntil(Condition condition, int timeoutMs) {
  return UiPump::Instance().PumpUntil(condition, static_cast<DWORD>(timeoutMs));
}

inline long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace trace_test
