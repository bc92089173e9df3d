#include "platform/CaptureHelperClient.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <mutex>

#include "common/CaptureHelperProtocol.h"

namespace {

constexpr int kAnswerTimeout = 5000;  // ms; the helper answers in about a millisecond

std::mutex g_pathLock;
std::string g_programPath;  // guarded by g_pathLock; empty: beside the running program

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// Reads the helper's reply and the socket riding with it; -1 on anything else.
int ReceiveReply(int channel, std::string* error) {
  pollfd entry{channel, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, kAnswerTimeout);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    SetError(error, "the capture helper did not answer");
    return -1;
  }
  CaptureHelperReply reply{};
  iovec data{&reply, sizeof reply};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  int passed = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); got > 0 && c != nullptr; c = CMSG_NXTHDR(&message, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int)))
      std::memcpy(&passed, CMSG_DATA(c), sizeof passed);
  if (got != static_cast<ssize_t>(sizeof reply) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
    if (passed >= 0) close(passed);
    SetError(error, got == 0 ? "the capture helper ended without an answer (is the user in the group pelorinpro?)"
                             : "the capture helper gave a malformed answer");
    return -1;
  }
  reply.text[sizeof reply.text - 1] = 0;
  if (reply.error != 0 || passed < 0) {
    if (passed >= 0) close(passed);
    SetError(error, reply.text[0] ? reply.text : "the capture helper gave no socket");
    return -1;
  }
  return passed;
}

}  // namespace

void CaptureHelperClient::SetProgramPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_pathLock);
  g_programPath = path;
}

std::string CaptureHelperClient::ProgramPath() {
  {
    std::lock_guard<std::mutex> lock(g_pathLock);
    if (!g_programPath.empty()) return g_programPath;
  }
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  return (self.parent_path() / kCaptureHelperProgram).string();
}

int CaptureHelperClient::OpenPacketSocket(const std::string& interfaceName, std::string* error) {
  return Request(kCaptureHelperPacket + interfaceName, error);
}

int CaptureHelperClient::OpenIcmpSocket(std::string* error) { return Request(kCaptureHelperIcmp, error); }

int CaptureHelperClient::OpenIcmp6Socket(std::string* error) { return Request(kCaptureHelperIcmp6, error); }

int CaptureHelperClient::Request(const std::string& request, std::string* error) {
  if (request.size() > kCaptureHelperRequestMax) {
    SetError(error, "the name is too long");
    return -1;
  }
  const std::string program = ProgramPath();
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    SetError(error, std::string("no socket for the capture helper: ") + std::strerror(errno));
    return -1;
  }
  // The helper's end becomes its standard input; its output goes nowhere, so it cannot write
  // into the window's terminal.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // A helper with file capabilities has its environment cleared; it gets none to begin with.
  char* argv[] = {const_cast<char*>(kCaptureHelperProgram), nullptr};
  char* envp[] = {nullptr};
  pid_t child = -1;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  close(pair[1]);
  if (spawned != 0) {
    close(pair[0]);
    SetError(error, spawned == EACCES ? program + " may be run only by members of the group pelorinpro"
                                      : "the capture helper " + program + " could not be started: " + std::strerror(spawned));
    return -1;
  }
  int result = -1;
  if (send(pair[0], request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
    SetError(error, "the capture helper could not be asked (is the user in the group pelorinpro?)");
  else
    result = ReceiveReply(pair[0], error);
  close(pair[0]);  // a helper still waiting sees its request end and exits
  if (result < 0) kill(child, SIGKILL);  // never left running when it did not answer in time
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return result;
}
