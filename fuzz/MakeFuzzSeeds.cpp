// Writes the seed corpus of every fuzz target into OUT/<target>/: frames of the recorded captures
// in tests/data, and files made by the readers' own writers from them.
#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/FieldText.h"
#include "common/FirewallRuleLogRecord.h"
#include "common/LogRecMarker.h"
#include "common/LogRecMarkerConnect.h"
#include "common/MonListMonLogData6.h"
#include "common/MonListMonLogData.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"
#include "controls/packets/PacketFilterFile.h"
#include "controls/trace/WhoIsServerList.h"
#include "platform/RegistryTree.h"
#include "setup/InstallRecord.h"
#include "wincap/PacketLogExport.h"
#include "wincap/PacketLogFile.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

fs::path g_out;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(g_out / target);
  std::ofstream(g_out / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Prefixed(const Bytes& prefix, const Bytes& bytes) {
  Bytes out = prefix;
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

std::vector<Bytes> Frames(const fs::path& capture, std::size_t most) {
  std::vector<Bytes> frames;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* in = pcap_open_offline(capture.c_str(), error);
  if (in == nullptr) return frames;
  pcap_pkthdr* header;
  const u_char* data;
  while (frames.size() < most && pcap_next_ex(in, &header, &data) == 1) frames.emplace_back(data, data + header->caplen);
  pcap_close(in);
  return frames;
}

void PacketSeeds(const fs::path& work) {
  int n = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(PELORIN_TESTDATA) / "pcap")) {
    if (entry.path().extension() != ".pcap") continue;
    const std::string stem = entry.path().stem().string();
    const std::vector<Bytes> frames = Frames(entry.path(), 24);
    for (std::size_t i = 0; i < frames.size() && i < 4; ++i) {
      const std::string name = stem + "-" + std::to_string(i);
      Seed("FrameDecodeFuzz", name, frames[i]);
      Seed("PacketRenderFuzz", name, Prefixed({64, 7}, frames[i]));
      // An answer as the raw socket gives it (no link header), matched against its own request.
      if (frames[i].size() > 14 + 28) {
        const Bytes ip(frames[i].begin() + 14, frames[i].end());
        const std::size_t icmp = static_cast<std::size_t>(ip[0] & 0x0F) * 4;
        Bytes request(ip.begin() + 12, ip.begin() + 16);  // the answer's source was asked
        for (std::size_t k = 4; k < 8 && icmp + k < ip.size(); ++k) request.push_back(ip[icmp + k]);
        request.resize(8);
        Seed("IcmpAnswerFuzz", name, Prefixed(request, ip));
      }
    }
    // A packet log of the capture's frames, whole and with its last record cut short.
    const fs::path log = work / (stem + ".rec");
    PacketLogFile file;
    if (!file.OpenTruncate(log.string())) continue;
    for (const Bytes& frame : frames)
      file.Write(frame.data(), static_cast<LONG>(frame.size()), "10.0.0.1", "10.0.0.2", "12/08/26 07:30:00:123", nullptr);
    file.Close();
    const Bytes whole = FileBytes(log);
    Seed("PacketLogFuzz", stem, whole);
    Seed("LinkLogFuzz", stem, whole);
    if (++n % 4 == 0 && whole.size() > 50) Seed("PacketLogFuzz", stem + "-cut", Bytes(whole.begin(), whole.end() - 50));
    // The capture file itself and the log exported as pcapng, for the capture file reader.
    Seed("CaptureFileFuzz", stem + "-pcap", FileBytes(entry.path()));
    const fs::path exported = work / (stem + ".pcapng");
    if (PacketLogExport().Run(log.string(), exported.string()).written) Seed("CaptureFileFuzz", stem + "-pcapng", FileBytes(exported));
  }
}

void ConnectSeeds() {
  // Both families: IPv6 records carry their addresses after the IPv4 layout, and the long one
  // has no header text, so the readers take it from the data.
  Bytes log;
  for (std::uint32_t i = 0; i < 8; ++i) {
    const bool ipv6 = i >= 4;
    const bool udp = i % 2 == 1;
    _LogRecMarkerConnect header{};
    SetFieldText(header.marker, kLogRecordMarker);
    header.position = static_cast<std::uint32_t>(log.size());
    const char* local = ipv6 ? (i == 7 ? "" : "::1") : "127.0.0.1";
    SetFieldText(header.localAddr, local);
    SetFieldText(header.remoteAddr, udp ? "" : local);
    SetFieldText(header.time, "12/08/26 07:30:00");
    SetFieldText(header.typeText, ipv6 ? (udp ? "UDP6" : "TCP6") : (udp ? "UDP" : "TCP"));
    _MonListMonLogData6 data{};
    data.base.state = i == 5 ? 0xFFFFFFFF : 2;
    data.base.localAddr = ipv6 ? 0 : htonl(INADDR_LOOPBACK);
    data.base.localPort = 40000 + i;
    data.base.time = 1765000000 + i;
    data.base.elapsed = i == 5 ? 3 : 0;
    SetFieldTextFull(data.base.processName, "PelorinPro");
    if (ipv6) {
      inet_pton(AF_INET6, i == 7 ? "2001:db8:aaaa:bbbb:cccc:dddd:eeee:1" : "::1", data.localAddr);
      if (!udp) std::memcpy(data.remoteAddr, data.localAddr, 16);
    }
    const std::size_t dataBytes = ipv6 ? sizeof data : sizeof data.base;
    header.dataLength = static_cast<std::int32_t>(dataBytes);
    header.recordLength = static_cast<std::int32_t>(dataBytes + sizeof header);
    header.cr = 0x0D;
    header.lf = 0x0A;
    const auto* h = reinterpret_cast<const std::uint8_t*>(&header);
    const auto* d = reinterpret_cast<const std::uint8_t*>(&data);
    log.insert(log.end(), h, h + sizeof header);
    log.insert(log.end(), d, d + dataBytes);
  }
  Seed("ConnectLogFuzz", "eight-records", log);
  Seed("ConnectLogFuzz", "cut", Bytes(log.begin(), log.end() - 30));
}

void FileSeeds(const fs::path& work) {
  PacketFilterSet set;
  set.lists[0] = {1, 2, 3};
  set.eitherPort = 80;
  set.minSize = 40;
  set.mustContain = "GET";
  const std::string filters = PacketFilterFile::Encode(set);
  Seed("FilterFileFuzz", "set", Bytes(filters.begin(), filters.end()));
  const std::string empty = PacketFilterFile::Encode(PacketFilterSet{});
  Seed("FilterFileFuzz", "empty", Bytes(empty.begin(), empty.end()));

  RegistryTree tree;
  const std::string key = "Software\\DunmereIncProducts\\Setup\\PelorinPro";
  tree.SetValue(key, "Layout", RegistryValue::String("18"));
  tree.SetValue(key, "AdapterCurr", RegistryValue::Dword(0xFFFFFFFF));
  tree.SetValue(key + "\\Filters", "OrIp", RegistryValue::Binary({1, 2, 3, 4}));
  const std::string text = tree.Serialize();
  Seed("RegistryFileFuzz", "store", Bytes(text.begin(), text.end()));

  InstallRecord install;
  install.files = {"/usr/local/bin/PelorinPro", "/usr/local/lib/libPelorinControls.so"};
  install.folders = {"/usr/local/share/PelorinPro"};
  InstallRecord::UserPart like;
  like.uid = like.gid = 1000;
  like.registry = "/home/u/.pelorin.reg";
  like.workFolder = "/home/u/PelorinPro";
  InstallRecord::UserPart& user = install.User(like);
  user.storeCreated = true;
  user.keys = {"Software\\DunmereIncProducts\\Setup\\PelorinPro"};
  user.values = {{user.keys[0], "IpMonLogCurrent", "/home/u/PelorinPro/PelorinProLogPkt.rec"}};
  const std::string installText = install.Serialize();
  Seed("InstallRecordFuzz", "record", Bytes(installText.begin(), installText.end()));

  // The counter files of the machine the seeds are made on.
  for (const char* name : {"snmp", "netstat", "sockstat", "snmp6"}) Seed("SnmpCountersFuzz", name, FileBytes(fs::path("/proc/net") / name));

  _FirewallRule rule{};
  SetFieldText(rule.name, "block range");
  rule.active = 1;
  rule.kind = 1;
  const fs::path rules = work / "rules.bin";
  if (FirewallRuleFile::Write(rules.string(), {rule, rule})) Seed("FirewallFilesFuzz", "rules", Prefixed({0}, FileBytes(rules)));
  _FirewallProcessRecord process{};
  process.blocked = 1;
  SetFieldText(process.processName, "curl");
  const fs::path processes = work / "processes.bin";
  if (FirewallProcessFile::Write(processes.string(), {process}))
    Seed("FirewallFilesFuzz", "processes", Prefixed({1}, FileBytes(processes)));
  _FirewallRuleLogRecord block{};
  block.rule = rule;
  block.blockedAddress = htonl(0xC0000201);
  block.blockedPort = htons(443);
  Bytes ruleLog;
  for (int i = 0; i < 3; ++i) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&block);
    ruleLog.insert(ruleLog.end(), b, b + sizeof block);
  }
  Seed("FirewallFilesFuzz", "rule-log", Prefixed({2}, ruleLog));

  Bytes reply(4096, 0);
  RampaStatisticsReply::Write(reply.data(), reply.size(), htonl(INADDR_LOOPBACK), {});
  Seed("StatisticsReplyFuzz", "no-blocks", reply);

  // A block as a console and an engine fill it, whole and with the file cut inside the payload.
  Bytes shared(kRampaUsedSize, 0);
  RampaBlockSetText(shared.data(), kRampaOffCfgFile, "/var/lib/pelorin/IpRamparo.cfg");
  RampaBlockSetText(shared.data(), kRampaOffIdent, "RamparoInterfaceMem.mem");
  RampaBlockSet(shared.data(), kRampaOffEnginePresent, 1);
  RampaBlockSet(shared.data(), kRampaOffFiltering, 1);
  std::copy(reply.begin(), reply.end(), shared.begin() + kRampaOffPayload);
  Seed("SharedBlockFuzz", "engine", Prefixed({0}, shared));
  Seed("SharedBlockFuzz", "cut", Prefixed({1 | (20 << 1)}, shared));

  const std::string answer =
      "% IANA WHOIS server\n%\nrefer:        whois.arin.net\n\ninetnum:      192.0.0.0 - 192.255.255.255\n"
      "organisation: Administered by ARIN\r\nstatus:       LEGACY\n";
  Seed("WhoIsAnswerFuzz", "answer", Bytes(answer.begin(), answer.end()));
  const fs::path servers = work / WhoIsServerList::kFileName;
  if (WhoIsServerList::Write(servers.string(), WhoIsServerList::Defaults())) Seed("WhoIsAnswerFuzz", "servers", FileBytes(servers));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  const fs::path work = g_out / ".work";
  fs::create_directories(work);
  PacketSeeds(work);
  ConnectSeeds();
  FileSeeds(work);
  fs::remove_all(work);
  return 0;
}
