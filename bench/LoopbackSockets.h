#pragma once
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

// Connected TCP pairs on loopback (127.0.0.1, or ::1 for AF_INET6), plus their listener, held
// open while the object lives: the socket load the table benchmarks scan. Connections are reset
// rather than closed, so no TIME_WAIT rows are left behind to weigh on the next run.
class LoopbackSockets {
 public:
  explicit LoopbackSockets(int pairs, int family = AF_INET) {
    // Room for every socket: raise the hard limit when allowed, else the soft one to the hard.
    rlimit limit{65536, 65536};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 && ::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
      limit.rlim_cur = limit.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const int listener = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
      auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
      a6->sin6_family = AF_INET6;
      a6->sin6_addr = in6addr_loopback;
      length = sizeof(sockaddr_in6);
    } else {
      auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
      a4->sin_family = AF_INET;
      a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof(sockaddr_in);
    }
    const socklen_t size = length;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener, 1024) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::perror("listener");
      std::exit(1);
    }
    m_fds.push_back(listener);
    for (int i = 0; i < pairs; ++i) {
      const int client = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&address), size) != 0) {
        std::perror("connect");
        std::exit(1);
      }
      const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (server < 0) {
        std::perror("accept");
        std::exit(1);
      }
      m_fds.push_back(client);
      m_fds.push_back(server);
    }
  }
  ~LoopbackSockets() {
    const linger reset{1, 0};
    for (int fd : m_fds) {
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      ::close(fd);
    }
  }
  LoopbackSockets(const LoopbackSockets&) = delete;
  LoopbackSockets& operator=(const LoopbackSockets&) = delete;

  std::size_t Count() const { return m_fds.size(); }

 private:
  std::vector<int> m_fds;
};

// Times `ss -tanp > /dev/null` as a child process, from spawn to exit, once per iteration: the
// system's own listing of the same sockets, for comparison.
inline void TimeSsTanp(benchmark::State& state) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char program[] = "ss";
  char options[] = "-tanp";
  char* argv[] = {program, options, nullptr};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    int status = 0;
    if (posix_spawnp(&child, "ss", &actions, nullptr, argv, environ) != 0 || ::waitpid(child, &status, 0) != child ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("ss failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  posix_spawn_file_actions_destroy(&actions);
}
