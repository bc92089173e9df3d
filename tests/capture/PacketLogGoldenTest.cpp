// A packet log written by an earlier release, which read every frame as IPv4 (the captures below
// replayed through its pane), and the rows that release reloaded from it. Today its IPv4 records
// must reload the same, its IPv6 records must show their real addresses, and the same captures
// must be logged again with every IPv4 record byte for byte as before (but the time it was taken).
#include <cstring>
#include <fstream>
#include <sstream>

#include "CaptureTestSupport.h"
#include "common/FieldText.h"
#include "wincap/DecodedPacket.h"

using namespace capture_test;

namespace {

const std::string kGolden = std::string(PELORIN_TESTDATA) + "/packets/PacketLog";
const char* const kCaptures[] = {"zeek-http-get", "zeek-icmp-5-pings", "tcpdump-dns_udp_2",
                                 "zeek-igmp-home-multicast-short", "zeek-trunc-ip4-trunc", "zeek-communityid-ipv6"};

bool IsIpv6(const Record& record) {
  return IsIpv6Frame(record.data.data(), static_cast<std::uint32_t>(record.data.size()), 14);
}

}  // namespace

TEST(PacketLogGolden, AnEarlierLogReloadsItsIpv4RowsUnchangedAndItsIpv6RowsWithTheirAddresses) {
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  std::filesystem::copy_file(kGolden + ".rec", env.LogPath(), std::filesystem::copy_options::overwrite_existing);
  auto pane = MakePane(env.App());
  ASSERT_NE(pane, nullptr);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  pane->LoadLastLog(-1);
  ASSERT_TRUE(WaitUntil([thread] { return thread->IsLogLast() == 0; }, 5000));
  const auto rows = Rows(*pane);
  const auto records = ReadLog(env.LogPath());

  std::ifstream in(kGolden + ".rows.tsv");
  std::size_t i = 0, ipv4 = 0;
  for (std::string line; std::getline(in, line); ++i) {
    ASSERT_LT(i, rows.size());
    ASSERT_LT(i, records.size());
    if (IsIpv6(records[i])) continue;
    ++ipv4;
    std::stringstream split(line);
    std::string expected[10];
    for (std::string& field : expected) std::getline(split, field, '\t');
    for (int c = 0; c < 8; ++c) EXPECT_EQ(rows[i].texts[c], expected[c]) << "row " << i << " column " << c;
    EXPECT_EQ(rows[i].item.recordPosition, std::stol(expected[8]));
    EXPECT_EQ(rows[i].item.typeCode, std::stol(expected[9]));
  }
  EXPECT_EQ(i, rows.size());
  EXPECT_EQ(ipv4, 33u);
  // The IPv6 records are the last capture's; their headers hold what the IPv4 reading made of them.
  const auto views = TsharkIpv6(kPcapFolder + "/zeek-communityid-ipv6.pcap");
  ASSERT_EQ(views.size(), rows.size() - ipv4);
  EXPECT_EQ(ExpectIpv6RowsAsTshark(rows, views, ipv4), static_cast<int>(views.size()));
  EXPECT_NE(GetFieldText(records.back().header.source), rows.back().texts[2]);
}

TEST(PacketLogGolden, TheSameCapturesAreLoggedAsBeforeSaveTheIpv6Addresses) {
  CaptureEnv env;
  auto pane = MakePane(env.App());
  ASSERT_NE(pane, nullptr);
  for (const char* name : kCaptures) {
    env.UseCaptureFile(kPcapFolder + "/" + name + ".pcap");
    ASSERT_TRUE(Replay(*pane));
  }
  const auto before = ReadLog(kGolden + ".rec");
  const auto now = ReadLog(env.LogPath());
  ASSERT_EQ(now.size(), before.size());
  ASSERT_EQ(std::filesystem::file_size(env.LogPath()), std::filesystem::file_size(kGolden + ".rec"));
  for (std::size_t i = 0; i < now.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(now[i].data, before[i].data);
    _LogRecMarker a = now[i].header, b = before[i].header;
    std::memset(a.time, 0, sizeof a.time);
    std::memset(b.time, 0, sizeof b.time);
    if (IsIpv6(now[i])) {
      // The address fields hold the IPv6 texts that fit, else nothing.
      const DecodedPacket d = DecodeFrame(now[i].data.data(), static_cast<std::uint32_t>(now[i].data.size()), 14);
      EXPECT_EQ(GetFieldText(a.source), PacketLogFile::HeaderAddressText(d.sourceText));
      EXPECT_EQ(GetFieldText(a.destination), PacketLogFile::HeaderAddressText(d.destinationText));
      for (_LogRecMarker* h : {&a, &b}) {
        std::memset(h->source, 0, sizeof h->source);
        std::memset(h->destination, 0, sizeof h->destination);
      }
    }
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  }
}
