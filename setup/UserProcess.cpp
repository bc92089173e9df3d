#include "setup/UserProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool BecomeUser(uid_t uid, gid_t gid) {
  if (uid == 0 || ::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
    return false;
  uid_t real = 0, effective = 0, saved = 0;
  gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
  if (::getresuid(&real, &effective, &saved) != 0 || ::getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0)
    return false;
  const bool only = real == uid && effective == uid && saved == uid && realGroup == gid && effectiveGroup == gid &&
                    savedGroup == gid && ::getgroups(0, nullptr) == 0;
  // Root must not be had back.
  return only && ::setuid(0) != 0 && ::seteuid(0) != 0;
}

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> UserProcess::Run(uid_t uid, gid_t gid, const std::function<std::string()>& work) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
  // Whatever is buffered would otherwise be written twice, by each process.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    if (!BecomeUser(uid, gid)) {
      std::fprintf(stderr, "Setup: cannot act as uid %u alone\n", static_cast<unsigned>(uid));
      ::_exit(125);
    }
    const std::string result = work();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(WriteAll(pipeFds[1], result) ? 0 : 125);
  }
  ::close(pipeFds[1]);
  if (child < 0) {
    ::close(pipeFds[0]);
    return std::nullopt;
  }
  std::string result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = -1;  // not an exit, should waiting fail
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}
