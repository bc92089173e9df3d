// PelorinCaptureHelper: the only part of PelorinPro that holds a capability. The window starts it
// with a SOCK_SEQPACKET socket as standard input and asks for one socket: an AF_PACKET socket on
// a named interface or a raw ICMP socket. The helper opens it with CAP_NET_RAW, passes it back
// with SCM_RIGHTS and exits; the window reads the socket itself, so the helper never sees a
// packet. It links nothing but the C library, reads nothing from its environment and drops every
// capability but CAP_NET_RAW before it reads the request, and that one after opening the socket.
#include <errno.h>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/CaptureHelperProtocol.h"

namespace {

constexpr int kRequestSocket = 0;  // standard input

// Keeps CAP_NET_RAW in the permitted and effective sets when keepRaw and the helper holds it;
// everything else goes, the inheritable set included.
bool LimitCapabilities(bool keepRaw) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned word = CAP_TO_INDEX(CAP_NET_RAW);
  const __u32 raw = keepRaw ? data[word].permitted & CAP_TO_MASK(CAP_NET_RAW) : 0;
  __user_cap_data_struct limited[_LINUX_CAPABILITY_U32S_3]{};
  limited[word].permitted = raw;
  limited[word].effective = raw;
  return syscall(SYS_capset, &header, limited) == 0;
}

// The kernel's own rule for interface names, so a bad name gets a clear answer here.
bool ValidInterfaceName(std::string_view name) {
  if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..") return false;
  for (const char c : name)
    if (c == '/' || c == ':' || c <= ' ' || c == 0x7F) return false;
  return true;
}

bool Reply(int error, const char* text, int passed) {
  CaptureHelperReply reply{};
  reply.error = error;
  std::snprintf(reply.text, sizeof reply.text, "%s", text);
  iovec data{&reply, sizeof reply};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (passed >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &passed, sizeof passed);
  }
  return sendmsg(kRequestSocket, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof reply);
}

// Answers a failed request; -1 for the caller to return.
int Fail(int error, const char* what) {
  char text[sizeof(CaptureHelperReply::text)];
  std::snprintf(text, sizeof text, "%s: %s", what, std::strerror(error));
  Reply(error, text, -1);
  return -1;
}

// A packet socket tied to the interface with protocol 0, so it receives nothing until the window
// has set up its ring and binds it for every protocol.
int OpenPacket(std::string_view name) {
  if (!ValidInterfaceName(name)) return Fail(EINVAL, "not an interface name");
  char text[IFNAMSIZ]{};
  name.copy(text, sizeof text - 1);
  const unsigned index = if_nametoindex(text);
  if (index == 0) return Fail(ENODEV, "no such interface");
  const int s = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
  if (s < 0) return Fail(errno, "the capture helper could not open a packet socket");
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_ifindex = static_cast<int>(index);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return Fail(errno, "binding the interface");
  return s;
}

}  // namespace

int main() {
  // Started with capabilities the loader already ignores LD_* variables; nothing here reads the
  // environment either, and nothing this starts may inherit it.
  if (getauxval(AT_SECURE) != 0) clearenv();
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  if (!LimitCapabilities(true)) {
    std::fprintf(stderr, "%s: could not limit its capabilities\n", kCaptureHelperProgram);
    return 2;
  }
  int type = 0;
  socklen_t typeSize = sizeof type;
  if (getsockopt(kRequestSocket, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 || type != SOCK_SEQPACKET) {
    std::fprintf(stderr, "%s is started by PelorinPro, with a socket as its standard input\n", kCaptureHelperProgram);
    return 2;
  }

  char request[kCaptureHelperRequestMax + 1]{};
  // MSG_TRUNC gives the request's whole length: a longer one is refused, never cut.
  const ssize_t got = recv(kRequestSocket, request, kCaptureHelperRequestMax, MSG_TRUNC);
  if (got <= 0) return 1;
  if (static_cast<std::size_t>(got) > kCaptureHelperRequestMax) return Fail(EINVAL, "request too long"), 1;
  const std::string_view asked(request, static_cast<std::size_t>(got));
  const std::string_view packet = kCaptureHelperPacket;
  int s;
  if (asked.starts_with(packet)) {
    s = OpenPacket(asked.substr(packet.size()));
  } else if (asked == kCaptureHelperIcmp) {
    s = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s < 0) s = Fail(errno, "the capture helper could not open an ICMP socket");
  } else if (asked == kCaptureHelperIcmp6) {
    s = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (s < 0) s = Fail(errno, "the capture helper could not open an ICMPv6 socket");
  } else {
    s = Fail(EINVAL, "unknown request");
  }
  if (s < 0) return 1;  // answered already
  LimitCapabilities(false);
  return Reply(0, "", s) ? 0 : 1;
}
