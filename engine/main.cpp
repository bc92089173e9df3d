// RamparoThreadApp: the firewall engine program that the console drives through the shared
// interface file. This engine serves the console's requests and loads what the console
// configures; it does not block any traffic yet.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "RamparoEngine.h"

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
      "This engine enforces no blocking: it loads the rules and the process list and answers\n"
      "every request, but it blocks no traffic, so its statistics never report a block.\n"
      "\n"
      "  --poll-ms N  look at the request slot every N milliseconds (1-1000, default %d)\n"
      "  --help       show this text\n"
      "\n"
      "SIGTERM or SIGINT end the program cleanly, like request 1133.\n",
      kDefaultPollMs);
}

}  // namespace

int main(int argc, char** argv) {
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

  // The end signals arrive through a descriptor, so the loop ends between requests, never
  // inside one.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
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

  while (engine.Poll()) {
    pollfd wait{signalFd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, pollMs);
    if (ready > 0) break;  // SIGTERM or SIGINT
    if (ready < 0 && errno != EINTR) break;
  }
  const bool lost = engine.IsLost();
  if (lost)
    std::fprintf(stderr, "RamparoThreadApp: the interface file %s was cut short\n", engine.InterfaceFile().c_str());
  engine.Stop();
  ::close(signalFd);
  return lost ? 1 : 0;
}
