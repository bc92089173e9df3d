#pragma once
#include <string>

// Asks PelorinCaptureHelper, the small program beside PelorinPro that alone holds CAP_NET_RAW,
// for a privileged socket: the window itself runs without any capability. Each call starts the
// helper once, waits for its answer (bounded) and returns the socket, or -1 with the reason in
// error. The sockets are close-on-exec and belong to the caller.
class CaptureHelperClient {
 public:
  // An AF_PACKET socket bound to the interface with protocol 0 (it receives nothing until the
  // caller binds it again for the protocols it wants).
  static int OpenPacketSocket(const std::string& interfaceName, std::string* error);
  // A raw IPv4 ICMP socket.
  static int OpenIcmpSocket(std::string* error);
  // A raw ICMPv6 socket.
  static int OpenIcmp6Socket(std::string* error);

  // The helper program: by default PelorinCaptureHelper in the folder of the running program.
  // Tests and benchmarks name another; an empty path goes back to the default.
  static void SetProgramPath(const std::string& path);
  static std::string ProgramPath();

 private:
  static int Request(const std::string& request, std::string* error);
};
