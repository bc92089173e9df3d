// RamparoThreadApp: the firewall engine program that the console drives through the shared
// interface file. It serves the console's requests and keeps the rules, the settings and the
// blocked processes the console configures as its own table in the kernel's packet filter.
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "RamparoEngine.h"
#include "RamparoRuleSet.h"

namespace {

constexpr int kDefaultPollMs = 10;  // ms between looks at the request slot

void PrintHelp() {
  std::printf(
      "Usage: RamparoThreadApp [--poll-ms N]\n"
      "\n"
      "The firewall engine served through the shared interface file. It reads the registry key\n"
      "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp:\n"
      "  \"RampaMemFile\"  the interface file (default: working directory/RamparoInterfaceMem.mem)\n"
      "  \"CfgFile\"       the rule file (default: working directory/Ramparo.cfg)\n"
      "storing the defaults when the values are empty, and the firewall settings and the process\n"
      "file (\"IpRamparoProcesses\") under Software\\DunmereIncProducts\\Setup\\IpRamparo.\n"
      "The registry file is $PELORIN_REGISTRY, else $XDG_CONFIG_HOME/PelorinPro/registry.reg.\n"
      "\n"
      "Requests: 1127 start filtering and load the rules, 1128 stop filtering, 1124 reload the\n"
      "rules, 1137 reload the settings and the process file, 1132 blocking statistics,\n"
      "1133 end the program.\n"
      "\n"
      "While filtering, the active rules are the nftables table \"inet ramparo\" of this network\n"
      "namespace (no other table is touched); blocked processes of the user running the engine are\n"
      "moved into a cgroup v2 group whose sockets the table drops. Blocks are logged through nflog\n"
      "group %d, at most %d records a second, to \"IpRamparoBlockLogFile\" (default: working\n"
      "directory/RamparoBlockLog.log). The table is made at start and owned by the engine: no other\n"
      "process can change it, the kernel removes it when the engine ends or is killed (nothing is\n"
      "filtered then), and a second engine in the same network namespace is refused.\n"
      "The program needs CAP_NET_ADMIN.\n"
      "\n"
      "  --poll-ms N  look at the request slot every N milliseconds (1-1000, default %d)\n"
      "  --help       show this text\n"
      "\n"
      "SIGTERM, SIGINT or SIGHUP end the program cleanly, like request 1133.\n",
      RamparoRuleSet::kLogGroup, RamparoRuleSet::kLogPerSecond, kDefaultPollMs);
}

// Started with its file capability, the engine keeps of its environment only what locates the
// user's registry: the libraries it loads read variables (libnftables' XTABLES_LIBDIR, for one)
// that would load code of the caller's choosing with CAP_NET_ADMIN.
void ClearEnvironmentWhenSecure() {
  if (getauxval(AT_SECURE) == 0) return;
  std::vector<std::pair<const char*, std::string>> kept;
  for (const char* name : {"PELORIN_REGISTRY", "XDG_CONFIG_HOME", "HOME"})
    if (const char* value = std::getenv(name)) kept.emplace_back(name, value);
  clearenv();
  for (const auto& [name, value] : kept) setenv(name, value.c_str(), 1);
}

bool HasNetAdmin() {
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  __user_cap_data_struct data[2] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  ClearEnvironmentWhenSecure();
  int pollMs = kDefaultPollMs;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      PrintHelp();
      return 0;
    }
    if (argument == "--poll-ms" && i + 1 < argc) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (!end || *end != '\0' || value < 1 || value > 1000) {
        std::fprintf(stderr, "RamparoThreadApp: --poll-ms wants a number from 1 to 1000\n");
        return 2;
      }
      pollMs = static_cast<int>(value);
      continue;
    }
    std::fprintf(stderr, "RamparoThreadApp: unknown argument \"%s\" (see --help)\n", argument.c_str());
    return 2;
  }

  if (!HasNetAdmin()) {
    std::fprintf(stderr,
                 "RamparoThreadApp: the firewall needs the CAP_NET_ADMIN capability to manage its packet filter "
                 "table; run it as root or give the program cap_net_admin (setcap cap_net_admin+ep)\n");
    return 1;
  }

  // The end signals arrive through a descriptor, so the loop ends between requests, never
  // inside one.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &endSignals, nullptr) != 0) return 1;
  const int signalFd = signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd < 0) {
    std::fprintf(stderr, "RamparoThreadApp: signalfd: %s\n", std::strerror(errno));
    return 1;
  }

  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) {
    std::fprintf(stderr, "RamparoThreadApp: working directory: %s\n", std::strerror(errno));
    return 1;
  }

  RamparoEngine engine(cwd);
  std::string error;
  if (!engine.Start(error)) {
    std::fprintf(stderr, "RamparoThreadApp: %s\n", error.c_str());
    ::close(signalFd);
    return 1;
  }

  auto lastTick = std::chrono::steady_clock::now();
  while (engine.Poll()) {
    pollfd wait[2] = {{signalFd, POLLIN, 0}, {engine.LogFd(), POLLIN, 0}};
    const int ready = ::poll(wait, engine.LogFd() >= 0 ? 2 : 1, pollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (wait[0].revents & POLLIN)) break;  // SIGTERM, SIGINT or SIGHUP
    if (ready > 0 && (wait[1].revents & POLLIN)) engine.OnLogReadable();
    if (std::chrono::steady_clock::now() - lastTick >= std::chrono::seconds(1)) {
      lastTick = std::chrono::steady_clock::now();
      engine.OnTick();
    }
  }
  const bool lost = engine.IsLost();
  if (lost)
    std::fprintf(stderr, "RamparoThreadApp: the interface file %s was cut short\n", engine.InterfaceFile().c_str());
  engine.Stop();
  ::close(signalFd);
  return lost ? 1 : 0;
}
