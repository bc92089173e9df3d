#include "platform/linux/RouteCounts.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace {

// Counts the messages of one routing dump; each describes one object.
std::optional<unsigned> CountDump(std::uint16_t requestType, std::uint16_t answerType, unsigned char family) {
  const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return std::nullopt;
  struct {
    nlmsghdr header;
    rtgenmsg body;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = requestType;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.body.rtgen_family = family;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof request)) {
    ::close(fd);
    return std::nullopt;
  }
  alignas(nlmsghdr) static thread_local char buffer[65536];
  unsigned count = 0;
  for (;;) {
    const ssize_t received = ::recv(fd, buffer, sizeof buffer, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) break;
    std::size_t left = static_cast<std::size_t>(received);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_DONE) {
        ::close(fd);
        return count;
      }
      if (message->nlmsg_type == NLMSG_ERROR) {
        ::close(fd);
        return std::nullopt;
      }
      if (message->nlmsg_type == answerType) ++count;
    }
  }
  ::close(fd);
  return std::nullopt;
}

// The lines of a file the kernel prints one object a line; read in pieces, since a router's
// route file can be large.
std::optional<unsigned> CountLines(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[16384];
  unsigned lines = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
  }
  ::close(fd);
  return lines;
}

// The entries of a folder, "." and ".." left out.
std::optional<unsigned> CountEntries(const char* path) {
  DIR* folder = ::opendir(path);
  if (folder == nullptr) return std::nullopt;
  unsigned entries = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    entries += name != "." && name != "..";
  }
  ::closedir(folder);
  return entries;
}

}  // namespace

std::optional<unsigned> CountInterfaces() { return CountDump(RTM_GETLINK, RTM_NEWLINK, AF_UNSPEC); }
std::optional<unsigned> CountIpv4Addresses() { return CountDump(RTM_GETADDR, RTM_NEWADDR, AF_INET); }
std::optional<unsigned> CountIpv4Routes() { return CountDump(RTM_GETROUTE, RTM_NEWROUTE, AF_INET); }
// One file of IPv6 counters per link that has IPv6.
std::optional<unsigned> CountIpv6Interfaces() { return CountEntries("/proc/net/dev_snmp6"); }
std::optional<unsigned> CountIpv6Addresses() { return CountLines("/proc/net/if_inet6"); }
std::optional<unsigned> CountIpv6Routes() { return CountLines("/proc/net/ipv6_route"); }
