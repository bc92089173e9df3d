// Which ICMPv6 messages answer an echo request: the reply to it from the address asked, or an
// error that quotes it, with the status each error stands for; a message about another request,
// or too short to tell, is passed over.
#include <arpa/inet.h>

#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/IcmpAnswer.h"

namespace {

constexpr std::uint16_t kId = 0x1234, kSeq = 7;

struct Address6 {
  std::uint8_t bytes[16];
  explicit Address6(const char* text) { inet_pton(AF_INET6, text, bytes); }
};

const Address6 kTarget("fd00:4::2"), kRouter("fd00:1::2");

std::vector<std::uint8_t> Echo(std::uint8_t type, std::uint16_t id, std::uint16_t seq) {
  return {type, 0, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8), std::uint8_t(seq), 'E', 'E'};
}

// An error of type and code quoting an echo request to destination.
std::vector<std::uint8_t> Error(std::uint8_t type, std::uint8_t code, const Address6& destination, std::uint16_t seq) {
  std::vector<std::uint8_t> message = {type, code, 0, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> header(40, 0);
  header[0] = 0x60;
  header[6] = 58;  // ICMPv6
  std::copy(destination.bytes, destination.bytes + 16, header.begin() + 24);
  message.insert(message.end(), header.begin(), header.end());
  const std::vector<std::uint8_t> request = Echo(128, kId, seq);
  message.insert(message.end(), request.begin(), request.end());
  return message;
}

IcmpAnswer Read(const std::vector<std::uint8_t>& message, const Address6& from) {
  return ReadIcmp6Answer(message.data(), message.size(), from.bytes, kTarget.bytes, kId, kSeq);
}

}  // namespace

TEST(IcmpAnswer6, RepliesAndErrorsAboutTheRequestAreOursWithTheirStatusOthersAreNot) {
  const IcmpAnswer reply = Read(Echo(129, kId, kSeq), kTarget);
  ASSERT_TRUE(reply.ours);
  EXPECT_EQ(reply.status, IP_SUCCESS);
  EXPECT_EQ(reply.dataSize, 2u);
  EXPECT_FALSE(Read(Echo(129, kId, kSeq + 1), kTarget).ours);  // an earlier echo's late reply
  EXPECT_FALSE(Read(Echo(129, kId + 1, kSeq), kTarget).ours);  // another program's
  EXPECT_FALSE(Read(Echo(129, kId, kSeq), kRouter).ours);      // not from the address asked
  EXPECT_FALSE(Read(Echo(128, kId, kSeq), kTarget).ours);      // a request, not a reply

  const IcmpAnswer expired = Read(Error(3, 0, kTarget, kSeq), kRouter);
  ASSERT_TRUE(expired.ours);
  EXPECT_EQ(expired.status, IP_HOP_LIMIT_EXCEEDED);
  EXPECT_EQ(0, std::memcmp(expired.from6, kRouter.bytes, 16));
  const std::pair<std::vector<std::uint8_t>, DWORD> errors[] = {
      {Error(3, 1, kTarget, kSeq), IP_REASSEMBLY_TIME_EXCEEDED}, {Error(1, 0, kTarget, kSeq), IP_DEST_NO_ROUTE},
      {Error(1, 1, kTarget, kSeq), IP_DEST_PROHIBITED},          {Error(1, 3, kTarget, kSeq), IP_DEST_ADDR_UNREACHABLE},
      {Error(1, 4, kTarget, kSeq), IP_DEST_PORT_UNREACHABLE},    {Error(2, 0, kTarget, kSeq), IP_PACKET_TOO_BIG},
      {Error(4, 0, kTarget, kSeq), IP_PARAMETER_PROBLEM}};
  for (const auto& [message, status] : errors) EXPECT_EQ(Read(message, kRouter).status, status) << int(message[0]);

  EXPECT_FALSE(Read(Error(3, 0, kRouter, kSeq), kRouter).ours);  // about a request to elsewhere
  EXPECT_FALSE(Read(Error(3, 0, kTarget, kSeq + 1), kRouter).ours);
  EXPECT_FALSE(Read(Error(135, 0, kTarget, kSeq), kRouter).ours);  // neighbour discovery is no error
  // Cut anywhere short of the quoted identifier and sequence, an error tells nothing.
  const std::vector<std::uint8_t> whole = Error(3, 0, kTarget, kSeq);
  for (std::size_t size = 0; size < 8 + 40 + 8; ++size)
    EXPECT_FALSE(ReadIcmp6Answer(whole.data(), size, kRouter.bytes, kTarget.bytes, kId, kSeq).ours) << size;
}
