// Descriptions of the interfaces of a network namespace the test makes: lo, a veth pair, a
// bridge and a tun device, with and without addresses, as the enumeration gives them. Needs root.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "common/FieldText.h"
#include "wincap/PelorinWinCapAdapters.h"

namespace {

// Runs in a child of its own namespaces, so the interfaces go with it: a fresh sysfs shows the
// namespace's interfaces. Writes a line "name<TAB>description" per device.
[[noreturn]] void DescribeInNamespace(int out) {
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      umount2("/sys", MNT_DETACH) != 0 || mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
    _exit(2);
  const char* made =
      "ip link set lo up && ip link add pel-a type veth peer name pel-b && ip addr add 192.168.77.1/24 dev pel-a && "
      "ip link set pel-a up && ip link add pel-br type bridge && ip -6 addr add fd00:77::1/64 dev pel-br nodad && "
      "ip tuntap add pel-tun mode tun && ip addr add 10.77.0.1/24 dev pel-tun";
  if (std::system(made) != 0) _exit(3);
  std::string lines;
  PelorinWinCapAdapters adapters;
  for (_PelorinWinCapAdapter* adapter = adapters.AdaptersGetFirst(0); adapter != nullptr; adapter = adapters.AdaptersGetNext(0))
    lines += GetFieldText(adapter->name) + "\t" + GetFieldText(adapter->description) + "\n";
  const bool written = write(out, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
  _exit(written ? 0 : 4);
}

TEST(AdapterDescriptions, EveryInterfaceIsNamedByItsKindAndFirstAddress) {
  if (geteuid() != 0) GTEST_SKIP() << "making network namespaces needs root";
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeEnds[0]);
    DescribeInNamespace(pipeEnds[1]);
  }
  close(pipeEnds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "2: no namespace, 3: no interfaces made, 4: no answer";

  std::map<std::string, std::string> descriptions;
  for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::size_t tab = output.find('\t', start);
    descriptions[output.substr(start, tab - start)] = output.substr(tab + 1, end - tab - 1);
  }
  EXPECT_EQ(descriptions["lo"], "Loopback 127.0.0.1");
  EXPECT_EQ(descriptions["pel-a"], "Virtual Ethernet 192.168.77.1");
  EXPECT_EQ(descriptions["pel-b"], "Virtual Ethernet no address");
  EXPECT_EQ(descriptions["pel-br"], "Bridge fd00:77::1");  // no IPv4 address: the IPv6 one
  EXPECT_EQ(descriptions["pel-tun"], "Tunnel 10.77.0.1");
  // The capture library's pseudo-devices keep its own words.
  if (descriptions.count("any")) {
    EXPECT_FALSE(descriptions["any"].empty());
  }
}

}  // namespace
