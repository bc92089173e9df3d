#pragma once
// Every engine a firewall test starts filters a network namespace of the test's own: the test
// program leaves the machine's namespace before its first test (engines it spawns inherit
// that), so no test can change the machine's own packet filter. Without root there is no
// private namespace and no engine can filter; the tests that need one skip.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

inline bool BringLoopbackUp() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up;
}

// True once the program runs in a private network namespace with its loopback up.
inline bool InPrivateNetwork() {
  static const bool entered = ::geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0 && BringLoopbackUp();
  return entered;
}
