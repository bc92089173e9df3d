#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/AddressText.h"
#include "controls/packets/PacketFilterFile.h"
#include "controls/packets/PacketFilterStore.h"
#include "platform/FileContents.h"

namespace {

const char kPath[] = "\\Software\\DunmereIncProducts\\Setup\\PelorinPro";
const char kKey[] = "Software\\DunmereIncProducts\\Setup\\PelorinPro\\Filters";

class PacketFilterStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-filters-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    m_registry = std::make_unique<Registry>(m_folder + "/store.reg");
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }
  PacketFilterStore Store() { return PacketFilterStore(kPath, *m_registry); }
  std::optional<RegistryValue> Value(const std::string& name) { return m_registry->GetValue(kKey, name); }

  std::string m_folder;
  std::unique_ptr<Registry> m_registry;
};

std::vector<std::uint8_t> Le(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t v : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return bytes;
}

// Every list full, every value present, awkward bytes in the texts.
PacketFilterSet FullSet() {
  PacketFilterSet set;
  for (int l = 0; l < PacketFilterSet::kListCount; ++l)
    for (std::uint32_t i = 0; i < 50; ++i) set.lists[l].push_back(0x0A000000u + l * 1000 + i);
  set.List(FilterList::SourceIpMustBe)[0] = 0xFFFFFFFFu;
  set.eitherAddress = InetAddr("10.0.0.5");
  set.eitherPort = 8080;
  set.minSize = 60;
  set.maxSize = 1500;
  set.udp = set.other = false;
  set.mustContain = std::string("GET \"/\\\x01\xE9", 8);
  set.mustNotContain = std::string(30, 'z');
  return set;
}

}  // namespace

TEST_F(PacketFilterStorage, RegistryHoldsTheExactValueNamesAndTypes) {
  ASSERT_TRUE(Store().Save(FullSet()).Ok());  // a larger set first: saving clears it
  PacketFilterSet set;
  set.List(FilterList::SourceIpMustBe) = {InetAddr("10.0.0.5"), InetAddr("192.168.1.1")};
  set.List(FilterList::DestPortMustNotBe) = {80};
  set.minSize = 60;
  set.icmp = false;
  set.mustContain = "GET";
  ASSERT_TRUE(Store().Save(set).Ok());

  EXPECT_EQ(Value("SourceIpMustBe"), RegistryValue::Binary({10, 0, 0, 5, 192, 168, 1, 1}));
  EXPECT_EQ(Value("SourceIpMustBeCount"), RegistryValue::String("2"));
  EXPECT_EQ(Value("DestPortMustNotBe"), RegistryValue::Binary(Le({80})));
  EXPECT_EQ(Value("DestPortMustNotBeCount"), RegistryValue::String("1"));
  for (std::string empty : {"SourceIpMustNotBe", "SourcePortMustBe", "SourcePortMustNotBe", "DestIpMustBe",
                            "DestIpMustNotBe", "DestPortMustBe"}) {
    EXPECT_EQ(Value(empty), RegistryValue::Binary({})) << empty;
    EXPECT_EQ(Value(empty + "Count"), RegistryValue::String("0")) << empty;
  }
  EXPECT_EQ(Value("OrIp"), RegistryValue::Binary({}));
  EXPECT_EQ(Value("OrPort"), RegistryValue::Binary({}));
  EXPECT_EQ(Value("MinPacketSize"), RegistryValue::Dword(60));
  EXPECT_EQ(Value("MaxPacketSize"), RegistryValue::Dword(0));
  EXPECT_EQ(Value("TCP"), RegistryValue::Dword(1));
  EXPECT_EQ(Value("ICMP"), RegistryValue::Dword(0));
  EXPECT_EQ(Value("MustContain"), RegistryValue::String("GET"));
  EXPECT_EQ(Value("MustNotContain"), RegistryValue::String(""));
  EXPECT_EQ(m_registry->ValueNames(kKey).size(), 8u * 2 + 2 + 2 + 4 + 2);
  PacketFilterSet read;
  ASSERT_TRUE(Store().Read(read).Ok());
  EXPECT_EQ(read, set);

  // Either-end values are 32-bit values when present; Delete turns every protocol off.
  set.eitherAddress = InetAddr("10.0.0.5");
  set.eitherPort = 443;
  ASSERT_TRUE(Store().Save(set).Ok());
  EXPECT_EQ(Value("OrIp"), RegistryValue::Dword(InetAddr("10.0.0.5")));
  EXPECT_EQ(Value("OrPort"), RegistryValue::Dword(443));
  ASSERT_TRUE(Store().Delete().Ok());
  ASSERT_TRUE(Store().Read(read).Ok());
  PacketFilterSet deleted;
  deleted.tcp = deleted.udp = deleted.icmp = deleted.other = false;
  EXPECT_EQ(read, deleted);
}

TEST_F(PacketFilterStorage, RegistryAndFileRoundTripsAgree) {
  PacketFilterSet set = FullSet();
  set.List(FilterList::DestIpMustNotBe).push_back(7);  // a 51st entry is not stored
  ASSERT_TRUE(Store().Save(set).Ok());
  const std::string file = m_folder + "/mine.flt";
  ASSERT_TRUE(PacketFilterFile::Write(file, set).Ok());
  set.List(FilterList::DestIpMustNotBe).pop_back();

  PacketFilterSet fromRegistry, fromFile;
  ASSERT_TRUE(Store().Read(fromRegistry).Ok());
  ASSERT_TRUE(PacketFilterFile::Read(file, fromFile).Ok());
  EXPECT_EQ(fromRegistry, set);
  EXPECT_EQ(fromFile, set);
  EXPECT_EQ(PacketFilterFile::Encode(fromRegistry), *ReadFileContents(file));
}

// IPv6 entries go beside the IPv4 ones: in values of their own in the registry and in a part after
// the IPv4 set in a file, so the file's first part is the IPv4 file a reader of before reads.
TEST_F(PacketFilterStorage, Ipv6EntriesKeepTheIpv4StorageAsItWasAndDamageToThemIsRefused) {
  PacketFilterSet set = FullSet(), ipv4 = FullSet();
  set.eitherAddress.reset();
  ipv4.eitherAddress.reset();
  for (std::uint8_t i = 0; i < 50; ++i) set.List6(FilterList::DestIpMustNotBe).push_back({0x20, 0x01, 0x0d, 0xb8, 15, i});
  set.List6(FilterList::SourceIpMustBe) = {PacketFilterSet::Address6{0xfe, 0x80, 15, 1}};
  set.eitherAddress6 = PacketFilterSet::Address6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

  const std::string bytes = PacketFilterFile::Encode(set), before = PacketFilterFile::Encode(ipv4);
  ASSERT_EQ(bytes.size(), before.size() + 4 + 4 * 4 + 51 * 16 + 4 + 16);
  EXPECT_EQ(bytes.substr(0, before.size()), before);
  EXPECT_EQ(bytes.substr(before.size(), 4), "IPv6");
  const std::string file = m_folder + "/mixed.flt";
  ASSERT_TRUE(PacketFilterFile::Write(file, set).Ok());
  ASSERT_TRUE(Store().Save(set).Ok());
  PacketFilterSet fromFile, fromRegistry;
  ASSERT_TRUE(PacketFilterFile::Read(file, fromFile).Ok());
  ASSERT_TRUE(Store().Read(fromRegistry).Ok());
  EXPECT_EQ(fromFile, set);
  EXPECT_EQ(fromRegistry, set);
  EXPECT_EQ(Value("DestIp6MustNotBeCount"), RegistryValue::String("50"));
  EXPECT_EQ(Value("OrIp"), RegistryValue::Binary({}));
  // Saving a set without IPv6 removes them: the key is the one of before again.
  ASSERT_TRUE(Store().Save(ipv4).Ok());
  EXPECT_EQ(m_registry->ValueNames(kKey).size(), 8u * 2 + 2 + 2 + 4 + 2);

  PacketFilterSet untouched;
  untouched.mustContain = "untouched";
  for (std::size_t cut = before.size() + 4; cut < bytes.size(); ++cut) {
    PacketFilterSet read = untouched;
    ASSERT_EQ(PacketFilterFile::Decode(bytes.substr(0, cut), read).code, E_FILTERS_INVALID) << cut;
    ASSERT_EQ(read, untouched) << cut;
  }
  std::string tooMany = bytes;
  tooMany[before.size() + 4] = 51;
  PacketFilterSet read = untouched;
  EXPECT_EQ(PacketFilterFile::Decode(tooMany + std::string(16, '\0'), read).code, E_FILTERS_INVALID);
  PacketFilterSet both = set;
  both.eitherAddress = InetAddr("10.0.0.5");
  EXPECT_EQ(PacketFilterFile::Decode(PacketFilterFile::Encode(both), read).code, E_FILTERS_INVALID);
  ASSERT_TRUE(m_registry->SetValue(kKey, "OrIp6", RegistryValue::Binary({1, 2, 3})));
  EXPECT_EQ(Store().Read(read).code, E_FILTERS_INVALID);
  EXPECT_EQ(read, untouched);
}

TEST_F(PacketFilterStorage, MissingKeyReadsAsAFreshInstallationAndNoPathIsNoKey) {
  PacketFilterSet read = FullSet();
  ASSERT_TRUE(Store().Read(read).Ok());
  EXPECT_EQ(read, PacketFilterSet{});
  PacketFilterStore noPath("", *m_registry);
  EXPECT_EQ(noPath.Read(read).code, E_UNEXPECTED);
  EXPECT_EQ(noPath.Save(FullSet()).code, E_UNEXPECTED);
  EXPECT_EQ(PacketFilterStore::FiltersKey("\\Software\\A\\B\\"), "Software\\A\\B\\Filters");
}

TEST_F(PacketFilterStorage, DamagedRegistryIsRefusedWhole) {
  const struct {
    const char* name;
    RegistryValue value;
  } damages[] = {
      {"SourcePortMustBeCount", RegistryValue::String("51")},
      {"SourcePortMustBeCount", RegistryValue::String("-1")},
      {"SourcePortMustBeCount", RegistryValue::String("99999999999999999999")},
      {"DestIpMustBe", RegistryValue::Binary(Le({1, 2, 3}))},  // count 50, 3 entries
      {"DestIpMustBe", RegistryValue::String("1.2.3.4")},
      {"OrPort", RegistryValue::Binary({1, 2})},
      {"MustContain", RegistryValue::String(std::string(31, 'a'))},
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.name);
    ASSERT_TRUE(Store().Save(FullSet()).Ok());
    ASSERT_TRUE(m_registry->SetValue(kKey, damage.name, damage.value));
    PacketFilterSet read;
    read.mustContain = "untouched";
    const PacketFilterResult result = Store().Read(read);
    EXPECT_EQ(result.code, E_FILTERS_INVALID);
    EXPECT_FALSE(result.message.empty());
    EXPECT_EQ(read.mustContain, "untouched");
  }
  // Count texts are read from their leading digits (none: 0); the count decides how much of a
  // longer binary value is used.
  const std::pair<const char*, std::size_t> counts[] = {{"abc", 0}, {"", 0}, {" 2", 2}, {"2 entries", 2}, {"1", 1}};
  for (const auto& [count, entries] : counts) {
    ASSERT_TRUE(Store().Save(FullSet()).Ok());
    ASSERT_TRUE(m_registry->SetValue(kKey, "SourcePortMustBeCount", RegistryValue::String(count)));
    PacketFilterSet read;
    ASSERT_TRUE(Store().Read(read).Ok()) << count;
    EXPECT_EQ(read.List(FilterList::SourcePortMustBe).size(), entries) << count;
  }
}

TEST_F(PacketFilterStorage, FileLayoutIsByteExact) {
  PacketFilterSet set;
  set.List(FilterList::SourceIpMustBe) = {InetAddr("10.0.0.5")};
  set.List(FilterList::DestPortMustNotBe) = {80, 443};
  set.eitherPort = 53;
  set.maxSize = 1500;
  set.icmp = false;
  set.mustContain = "GET";
  std::vector<std::uint8_t> expected = Le({1, InetAddr("10.0.0.5"), 0, 0, 0, 0, 0, 0, 2, 80, 443});
  // Either address absent, either port 53, min absent, max 1500; TCP, UDP, no ICMP, Other.
  for (auto b : Le({0, 1, 53, 0, 1, 1500, 1, 1, 0, 1, 3})) expected.push_back(b);
  expected.insert(expected.end(), {'G', 'E', 'T', 0, 0, 0, 0});  // "GET", empty must-not-contain
  const std::string bytes = PacketFilterFile::Encode(set);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

// A file written before IPv6 entries existed reads as the set it was written from and is written
// again byte for byte.
TEST_F(PacketFilterStorage, ATodaysIpv4FileReadsUnchangedAndIsWrittenAgainByteForByte) {
  const std::string golden = PELORIN_TESTDATA "/filters/FullSet.flt";
  PacketFilterSet read;
  ASSERT_TRUE(PacketFilterFile::Read(golden, read).Ok());
  EXPECT_EQ(read, FullSet());
  EXPECT_EQ(PacketFilterFile::Encode(read), *ReadFileContents(golden));
}

TEST_F(PacketFilterStorage, DamagedFilesAreRefusedWhole) {
  const std::string valid = PacketFilterFile::Encode(FullSet());
  PacketFilterSet untouched;
  untouched.mustContain = "untouched";
  for (std::size_t cut = 0; cut < valid.size(); ++cut) {
    PacketFilterSet read = untouched;
    ASSERT_EQ(PacketFilterFile::Decode(valid.substr(0, cut), read).code, E_FILTERS_INVALID) << cut;
    ASSERT_EQ(read, untouched) << cut;
  }

  auto patched = [&](std::size_t offset, std::uint32_t value) {
    std::string bytes = valid;
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  const std::size_t flags = 8 * 4 * 51, mustContain = flags + 8 * 4 + 4 * 4;
  const struct {
    const char* what;
    std::string bytes;
  } damages[] = {
      {"51 entries", patched(0, 51) + std::string(4, '\0')},
      {"negative count", patched(4 * 51, 0xFFFFFFFFu)},
      {"flag 2", patched(flags, 2)},
      {"protocol flag 7", patched(flags + 8 * 4, 7)},
      {"text length 31", patched(mustContain, 31) + std::string(64, 'x')},
      {"huge text length", patched(mustContain, 0x7FFFFFF0u)},
      {"negative text length", patched(mustContain, 0x80000000u)},
  };
  for (const auto& damage : damages) {
    PacketFilterSet out = untouched;
    const PacketFilterResult result = PacketFilterFile::Decode(damage.bytes, out);
    EXPECT_EQ(result.code, E_FILTERS_INVALID) << damage.what;
    EXPECT_FALSE(result.message.empty()) << damage.what;
    EXPECT_EQ(out, untouched) << damage.what;
  }
}

TEST_F(PacketFilterStorage, FileResults) {
  PacketFilterSet read;
  EXPECT_EQ(PacketFilterFile::Read("", read).code, E_UNEXPECTED);
  EXPECT_EQ(PacketFilterFile::Write("", FullSet()).code, E_UNEXPECTED);
  EXPECT_EQ(PacketFilterFile::Read(m_folder + "/missing.flt", read).code, E_FAIL);
  EXPECT_EQ(PacketFilterFile::Read(m_folder, read).code, E_FAIL);  // a folder
  EXPECT_EQ(PacketFilterFile::Write(m_folder + "/no/such/folder.flt", FullSet()).code, E_FAIL);

  // A set that cannot be stored leaves the old file and the registry as they were.
  const std::string file = m_folder + "/kept.flt";
  ASSERT_TRUE(PacketFilterFile::Write(file, FullSet()).Ok());
  PacketFilterSet tooLong;
  tooLong.mustNotContain = std::string(31, 'x');
  EXPECT_EQ(PacketFilterFile::Write(file, tooLong).code, E_FILTERS_INVALID);
  EXPECT_EQ(Store().Save(tooLong).code, E_FILTERS_INVALID);
  ASSERT_TRUE(PacketFilterFile::Read(file, read).Ok());
  EXPECT_EQ(read, FullSet());
  EXPECT_FALSE(m_registry->KeyExists(kKey));
}

TEST_F(PacketFilterStorage, ReaderNeverSeesAHalfWrittenSet) {
  PacketFilterSet a = FullSet(), b;
  b.List(FilterList::SourcePortMustBe) = {7};
  b.tcp = false;
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0}, reads{0};
  std::thread reader([&] {
    Registry other(m_registry->Path());  // another program's view of the same store
    const PacketFilterStore store(kPath, other);
    while (!done) {
      PacketFilterSet read;
      if (!store.Read(read).Ok() || (read != a && read != b && read != PacketFilterSet{})) ++mixed;
      ++reads;
    }
  });
  bool saved = true;
  for (int i = 0; i < 200; ++i) saved = Store().Save(i % 2 ? a : b).Ok() && saved;
  done = true;
  reader.join();
  EXPECT_TRUE(saved);
  EXPECT_EQ(mixed, 0);
  EXPECT_GT(reads, 0);
}
