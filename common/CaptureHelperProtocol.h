#pragma once
// The exchange between the window and PelorinCaptureHelper over the SOCK_SEQPACKET socket the
// window hands it as standard input: one request, one reply, then the helper exits.
//
//   request: "packet NAME" (an AF_PACKET socket bound to interface NAME, receiving nothing yet)
//            or "icmp" (a raw IPv4 ICMP socket) or "icmp6" (a raw ICMPv6 socket)
//   reply:   a CaptureHelperReply; on success (error 0) the socket rides along as SCM_RIGHTS.
#include <cstddef>
#include <cstdint>

inline constexpr char kCaptureHelperProgram[] = "PelorinCaptureHelper";
inline constexpr char kCaptureHelperPacket[] = "packet ";
inline constexpr char kCaptureHelperIcmp[] = "icmp";
inline constexpr char kCaptureHelperIcmp6[] = "icmp6";
inline constexpr std::size_t kCaptureHelperRequestMax = 64;  // bytes

struct CaptureHelperReply {
  std::int32_t error;  // 0, or the errno of the step that failed
  char text[124];      // zero-terminated: what failed, for the user
};
static_assert(sizeof(CaptureHelperReply) == 128);
