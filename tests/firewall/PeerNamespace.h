#pragma once
// A second network namespace joined to the test's own by a veth pair: 10.77.0.1 and fd77::1
// here, 10.77.0.2 and fd77::2 there (without duplicate detection, so they serve at once). The
// namespace is held by a child process that dies with the test program, so nothing is left
// behind even when a test crashes; the veth pair goes with it.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class PeerNamespace {
 public:
  static constexpr const char* kHere = "10.77.0.1";
  static constexpr const char* kPeer = "10.77.0.2";
  static constexpr const char* kHere6 = "fd77::1";
  static constexpr const char* kPeer6 = "fd77::2";

  PeerNamespace() {
    int ready[2];
    if (::pipe(ready) != 0) return;
    m_holder = ::fork();
    if (m_holder == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      const char ok = ::unshare(CLONE_NEWNET) == 0 ? 1 : 0;
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    char ok = 0;
    ::close(ready[1]);
    if (m_holder < 0 || ::read(ready[0], &ok, 1) != 1 || ok != 1) {
      ::close(ready[0]);
      return;
    }
    ::close(ready[0]);
    m_net = ::open(("/proc/" + std::to_string(m_holder) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    m_own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const std::string pid = std::to_string(m_holder);
    m_ok = m_net >= 0 && m_own >= 0 && Run("ip link add rp0 type veth peer name rp1") &&
           Run("ip link set rp1 netns " + pid) && Run("ip addr add " + std::string(kHere) + "/24 dev rp0") &&
           Run("ip -6 addr add " + std::string(kHere6) + "/64 dev rp0 nodad") && Run("ip link set rp0 up") &&
           InPeer("ip link set lo up") && InPeer("ip addr add " + std::string(kPeer) + "/24 dev rp1") &&
           InPeer("ip -6 addr add " + std::string(kPeer6) + "/64 dev rp1 nodad") && InPeer("ip link set rp1 up");
  }
  ~PeerNamespace() {
    if (m_net >= 0) ::close(m_net);
    if (m_own >= 0) ::close(m_own);
    Run("ip link del rp0 2>/dev/null");
    if (m_holder > 0) {
      ::kill(m_holder, SIGKILL);
      ::waitpid(m_holder, nullptr, 0);
    }
  }
  PeerNamespace(const PeerNamespace&) = delete;
  PeerNamespace& operator=(const PeerNamespace&) = delete;

  bool Ok() const { return m_ok; }
  // A fixed command of the test's own (never text from a file), in this namespace or the peer's.
  static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
  bool InPeer(const std::string& command) const {
    return Run("nsenter --net=/proc/" + std::to_string(m_holder) + "/ns/net " + command);
  }
  // Runs f with the calling thread in the peer's namespace: sockets made there stay there.
  template <typename F>
  auto InPeerThread(F f) const {
    ::setns(m_net, CLONE_NEWNET);
    auto result = f();
    ::setns(m_own, CLONE_NEWNET);
    return result;
  }

 private:
  pid_t m_holder = -1;
  int m_net = -1;
  int m_own = -1;
  bool m_ok = false;
};
