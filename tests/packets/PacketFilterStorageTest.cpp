#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
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
  void TearDown() override {
    m_registry.reset();
    std::filesystem::remove_all(m_folder);
  }
  PacketFilterStore Store() { return PacketFilterStore(kPath, *m_registry); }
  std::optional<RegistryValue> Value(const char* name) { return m_registry->GetValue(kKey, name); }

  std::string m_folder;
  std::unique_ptr<Registry> m_registry;
};

std::vector<std::uint8_t> Le(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t v : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return bytes;
}

// Every list full, every value present, unusual bytes in the texts.
PacketFilterSet FullSet() {
  PacketFilterSet set;
  for (int l = 0; l < PacketFilterSet::kListCount; ++l)
    for (std::uint32_t i = 0; i < 50; ++i) set.lists[l].push_back(0x0A000000u + l * 1000 + i);
  set.List(FilterList::SourceIpMustBe)[0] = 0xFFFFFFFFu;
  set.eitherAddress = InetAddr("10.0.0.5");
  set.eitherPort = 8080;
  set.minSize = 60;
  set.maxSize = 1500;
  set.udp = false;
  set.other = false;
  set.mustContain = std::string("GET \"/\\\x01\xE9", 8);
  set.mustNotContain = std::string(30, 'z');
  return set;
}

}  // namespace

TEST_F(PacketFilterStorage, RegistryHoldsTheExactValueNamesAndTypes) {
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
  for (const char* empty : {"SourceIpMustNotBe", "SourcePortMustBe", "SourcePortMustNotBe", "DestIpMustBe",
                            "DestIpMustNotBe", "DestPortMustBe"}) {
    EXPECT_EQ(Value(empty), RegistryValue::Binary({})) << empty;
    EXPECT_EQ(Value((std::string(empty) + "Count").c_str()), RegistryValue::String("0")) << empty;
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

  set.eitherAddress = InetAddr("10.0.0.5");
  set.eitherPort = 443;
  ASSERT_TRUE(Store().Save(set).Ok());
  EXPECT_EQ(Value("OrIp"), RegistryValue::Dword(InetAddr("10.0.0.5")));
  EXPECT_EQ(Value("OrPort"), RegistryValue::Dword(443));
}

TEST_F(PacketFilterStorage, SaveClearsWhatTheLastSetHadAndDeleteTurnsProtocolsOff) {
  ASSERT_TRUE(Store().Save(FullSet()).Ok());
  PacketFilterSet small;
  small.List(FilterList::DestIpMustBe) = {InetAddr("1.2.3.4")};
  ASSERT_TRUE(Store().Save(small).Ok());
  PacketFilterSet read;
  ASSERT_TRUE(Store().Read(read).Ok());
  EXPECT_EQ(read, small);

  ASSERT_TRUE(Store().Delete().Ok());
  ASSERT_TRUE(Store().Read(read).Ok());
  PacketFilterSet deleted;
  deleted.tcp = deleted.udp = deleted.icmp = deleted.other = false;
  EXPECT_EQ(read, deleted);
}

TEST_F(PacketFilterStorage, RegistryAndFileRoundTripsAgree) {
  const PacketFilterSet set = FullSet();
  ASSERT_TRUE(Store().Save(set).Ok());
  const std::string file = m_folder + "/mine.flt";
  ASSERT_TRUE(PacketFilterFile::Write(file, set).Ok());

  PacketFilterSet fromRegistry, fromFile;
  ASSERT_TRUE(Store().Read(fromRegistry).Ok());
  ASSERT_TRUE(PacketFilterFile::Read(file, fromFile).Ok());
  EXPECT_EQ(fromRegistry, set);
  EXPECT_EQ(fromFile, set);

  // Saving what was loaded from either gives the same bytes again.
  EXPECT_EQ(PacketFilterFile::Encode(fromRegistry), *ReadFileContents(file));
}

TEST_F(PacketFilterStorage, MissingKeyReadsAsAFreshInstallationAndNoPathIsNoKey) {
  PacketFilterSet read = FullSet();
  ASSERT_TRUE(Store().Read(read).Ok());
  EXPECT_EQ(read, PacketFilterSet{});

  PacketFilterStore noPath("", *m_registry);
  EXPECT_EQ(noPath.Read(read).code, E_UNEXPECTED);
  EXPECT_EQ(noPath.Save(FullSet()).code, E_UNEXPECTED);
  EXPECT_EQ(noPath.Delete().code, E_UNEXPECTED);

  EXPECT_EQ(PacketFilterStore::FiltersKey("\\Software\\A\\B\\"), "Software\\A\\B\\Filters");
  EXPECT_EQ(PacketFilterStore::FiltersKey("Software\\A"), "Software\\A\\Filters");
}

TEST_F(PacketFilterStorage, DamagedRegistryIsRefusedWhole) {
  ASSERT_TRUE(Store().Save(FullSet()).Ok());
  const PacketFilterSet keep = FullSet();
  const struct {
    const char* name;
    RegistryValue value;
  } damages[] = {
      {"SourcePortMustBeCount", RegistryValue::String("51")},
      {"SourcePortMustBeCount", RegistryValue::String("-1")},
      {"SourcePortMustBeCount", RegistryValue::String("99999999999999999999")},
      {"DestIpMustBe", RegistryValue::Binary(Le({1, 2, 3}))},  // count 50, 3 entries
      {"DestIpMustBe", RegistryValue::String("1.2.3.4")},
      {"OrIp", RegistryValue::String("10.0.0.5")},
      {"OrPort", RegistryValue::Binary({1, 2})},
      {"MustContain", RegistryValue::String(std::string(31, 'a'))},
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.name);
    ASSERT_TRUE(Store().Save(keep).Ok());
    ASSERT_TRUE(m_registry->SetValue(kKey, damage.name, damage.value));
    PacketFilterSet read = keep;
    read.mustContain = "untouched";
    const PacketFilterResult result = Store().Read(read);
    EXPECT_EQ(result.code, E_FILTERS_INVALID);
    EXPECT_FALSE(result.message.empty());
    EXPECT_EQ(read.mustContain, "untouched");
  }
}

TEST_F(PacketFilterStorage, CountTextsReadAsNumbersFromTheirLeadingDigits) {
  PacketFilterSet set;
  set.List(FilterList::SourcePortMustBe) = {1, 2, 3};
  const struct {
    const char* count;
    std::size_t entries;
  } cases[] = {{"abc", 0}, {"", 0}, {" 2", 2}, {"2 entries", 2}, {"+3", 3}, {"0", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    ASSERT_TRUE(Store().Save(set).Ok());
    ASSERT_TRUE(m_registry->SetValue(kKey, "SourcePortMustBeCount", RegistryValue::String(c.count)));
    PacketFilterSet read;
    ASSERT_TRUE(Store().Read(read).Ok());
    EXPECT_EQ(read.List(FilterList::SourcePortMustBe),
              std::vector<std::uint32_t>(set.List(FilterList::SourcePortMustBe).begin(),
                                         set.List(FilterList::SourcePortMustBe).begin() + c.entries));
  }
  // A binary longer than its count: the count decides.
  ASSERT_TRUE(m_registry->SetValue(kKey, "SourcePortMustBeCount", RegistryValue::String("1")));
  PacketFilterSet read;
  ASSERT_TRUE(Store().Read(read).Ok());
  EXPECT_EQ(read.List(FilterList::SourcePortMustBe), std::vector<std::uint32_t>{1});
}

TEST_F(PacketFilterStorage, FileLayoutIsByteExact) {
  PacketFilterSet set;
  set.List(FilterList::SourceIpMustBe) = {InetAddr("10.0.0.5")};
  set.List(FilterList::DestPortMustNotBe) = {80, 443};
  set.eitherPort = 53;
  set.maxSize = 1500;
  set.icmp = false;
  set.mustContain = "GET";
  std::vector<std::uint8_t> expected = {1, 0, 0, 0, 10, 0, 0, 5};       // source address must be
  for (int i = 0; i < 6; ++i) expected.insert(expected.end(), 4, 0);   // six empty lists
  for (auto b : Le({2, 80, 443})) expected.push_back(b);               // dest port must not be
  for (auto b : Le({0, 1, 53, 0, 1, 1500, 1, 1, 0, 1, 3})) expected.push_back(b);
  for (char c : std::string("GET")) expected.push_back(static_cast<std::uint8_t>(c));
  for (auto b : Le({0})) expected.push_back(b);
  const std::string bytes = PacketFilterFile::Encode(set);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST_F(PacketFilterStorage, DamagedFilesAreRefusedWhole) {
  const std::string valid = PacketFilterFile::Encode(FullSet());
  PacketFilterSet untouched;
  untouched.mustContain = "untouched";

  // Cut short anywhere: refused, never read beyond the bytes given.
  for (std::size_t cut = 0; cut < valid.size(); ++cut) {
    PacketFilterSet read = untouched;
    const std::string head = valid.substr(0, cut);
    ASSERT_EQ(PacketFilterFile::Decode(head, read).code, E_FILTERS_INVALID) << cut;
    ASSERT_EQ(read, untouched) << cut;
  }
  PacketFilterSet read;
  ASSERT_TRUE(PacketFilterFile::Decode(valid, read).Ok());
  EXPECT_EQ(read, FullSet());

  auto patched = [&](std::size_t offset, std::uint32_t value) {
    std::string bytes = valid;
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  const std::size_t lists = 8 * 4 * 51;
  const std::size_t mustContain = lists + 8 * 4 + 4 * 4;  // after four flags with values and the protocols
  const struct {
    const char* what;
    std::string bytes;
  } damages[] = {
      {"51 entries", patched(0, 51) + std::string(4, '\0')},
      {"negative count", patched(4 * 51, 0xFFFFFFFFu)},
      {"flag 2", patched(lists, 2)},
      {"protocol flag 7", patched(lists + 8 * 4, 7)},
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

  // A set that cannot be stored leaves the old file as it was.
  const std::string file = m_folder + "/kept.flt";
  ASSERT_TRUE(PacketFilterFile::Write(file, FullSet()).Ok());
  PacketFilterSet tooLong;
  tooLong.mustNotContain = std::string(31, 'x');
  EXPECT_EQ(PacketFilterFile::Write(file, tooLong).code, E_FILTERS_INVALID);
  EXPECT_EQ(Store().Save(tooLong).code, E_FILTERS_INVALID);
  ASSERT_TRUE(PacketFilterFile::Read(file, read).Ok());
  EXPECT_EQ(read, FullSet());
  EXPECT_FALSE(m_registry->KeyExists(kKey));

  // Bytes after a complete set are not read.
  ASSERT_TRUE(ReplaceFileContents(file, PacketFilterFile::Encode(PacketFilterSet{}) + "trailing"));
  ASSERT_TRUE(PacketFilterFile::Read(file, read).Ok());
  EXPECT_EQ(read, PacketFilterSet{});
}

TEST_F(PacketFilterStorage, ListsLongerThanFiftyAreStoredCut) {
  PacketFilterSet set;
  for (std::uint32_t i = 0; i < 60; ++i) set.List(FilterList::DestIpMustNotBe).push_back(i);
  ASSERT_TRUE(Store().Save(set).Ok());
  EXPECT_EQ(Value("DestIpMustNotBeCount"), RegistryValue::String("50"));
  set.List(FilterList::DestIpMustNotBe).resize(50);
  PacketFilterSet read;
  ASSERT_TRUE(Store().Read(read).Ok());
  EXPECT_EQ(read, set);
  ASSERT_TRUE(PacketFilterFile::Decode(PacketFilterFile::Encode(set), read).Ok());
  EXPECT_EQ(read, set);
}

TEST_F(PacketFilterStorage, ReaderNeverSeesAHalfWrittenSet) {
  PacketFilterSet a = FullSet(), b;
  b.List(FilterList::SourcePortMustBe) = {7};
  b.tcp = false;
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0}, reads{0};
  std::thread reader([&] {
    // A second store object over the same file, as another program would have.
    Registry other(m_registry->Path());
    const PacketFilterStore store(kPath, other);
    while (!done) {
      PacketFilterSet read;
      if (!store.Read(read).Ok() || (read != a && read != b && read != PacketFilterSet{})) ++mixed;
      ++reads;
    }
  });
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(Store().Save(i % 2 ? a : b).Ok());
  done = true;
  reader.join();
  EXPECT_EQ(mixed, 0);
  EXPECT_GT(reads, 0);
}

TEST(PacketFilterFileName, NamesContainingFltAreFilterFiles) {
  EXPECT_TRUE(PacketFilterFile::IsFilterFileName("a.flt"));
  EXPECT_TRUE(PacketFilterFile::IsFilterFileName("a.flt.bak"));
  EXPECT_FALSE(PacketFilterFile::IsFilterFileName("a.txt"));
  EXPECT_EQ(PacketFilterFile::MakeFilterFileName("web"), "web.flt");
  EXPECT_EQ(PacketFilterFile::MakeFilterFileName("web.flt"), "web.flt");
  EXPECT_EQ(PacketFilterFile::MakeFilterFileName("web.flt.bak"), "web.flt.bak");
}
