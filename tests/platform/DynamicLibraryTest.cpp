#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/IpHelper.h"
#include "platform/LastError.h"
#include "platform/ProcessHeap.h"

namespace {

TEST(DynamicLibrary, LoadsKnownLibrariesByTheirNameInAnySpelling) {
  HMODULE lower = LoadLibraryA("iphlpapi.dll");
  HMODULE upper = LoadLibraryA("IPHLPAPI.DLL");
  HMODULE bare = LoadLibraryA("IpHlpApi");
  HMODULE withFolder = LoadLibraryA("C:\\Windows\\System32\\iphlpapi.dll");
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(upper, lower);
  EXPECT_EQ(bare, lower);
  EXPECT_EQ(withFolder, lower);

  EXPECT_EQ(LoadLibraryA("iphlpapi."), nullptr) << "a trailing dot means no extension";
  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);

  // Entry points resolve to the calls themselves; names are exact.
  EXPECT_EQ(GetProcAddress(lower, "GetTcpTable"), reinterpret_cast<FARPROC>(&GetTcpTable));
  EXPECT_EQ(GetProcAddress(lower, "gettcptable"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(lower, nullptr), nullptr);
  EXPECT_EQ(GetProcAddress(lower, "GetIpNetTable"), nullptr) << "calls not carried here are absent";

  for (HMODULE m : {lower, upper, bare, withFolder}) EXPECT_TRUE(FreeLibrary(m));
  // Every load has been undone: the handle no longer answers.
  EXPECT_FALSE(FreeLibrary(lower));
  EXPECT_EQ(GetProcAddress(lower, "GetTcpTable"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(DynamicLibrary, TestsReplaceAndRestoreALibrarysTable) {
  HMODULE library = LoadLibraryA("iphlpapi.dll");
  ASSERT_NE(library, nullptr);
  const std::size_t builtIn = LibraryExports("iphlpapi.dll").size();
  {
    ScopedLibraryExports withoutExtended(
        "iphlpapi.dll", WithoutExports(LibraryExports("iphlpapi.dll"), {"AllocateAndGetTcpExTableFromStack",
                                                                        "AllocateAndGetUdpExTableFromStack"}));
    // A handle taken before the replacement sees it too.
    EXPECT_EQ(GetProcAddress(library, "AllocateAndGetTcpExTableFromStack"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "AllocateAndGetUdpExTableFromStack"), nullptr);
    EXPECT_NE(GetProcAddress(library, "GetTcpTable"), nullptr);
    EXPECT_EQ(LibraryExports("iphlpapi.dll").size(), builtIn - 2);
  }
  EXPECT_NE(GetProcAddress(library, "AllocateAndGetTcpExTableFromStack"), nullptr);
  {
    ScopedLibraryExports noIcmp("iphlpapi.dll", WithoutExports(LibraryExports("iphlpapi.dll"), {"GetIcmpStatistics"}));
    EXPECT_EQ(GetProcAddress(library, "GetIcmpStatistics"), nullptr);
    EXPECT_NE(GetProcAddress(library, "GetTcpStatistics"), nullptr);
  }
  {
    ScopedLibraryExports missing("iphlpapi.dll");
    EXPECT_EQ(LoadLibraryA("iphlpapi.dll"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "GetTcpTable"), nullptr);
    EXPECT_TRUE(LibraryExports("iphlpapi.dll").empty());
  }
  EXPECT_NE(GetProcAddress(library, "GetIcmpStatistics"), nullptr);
  EXPECT_EQ(LibraryExports("iphlpapi.dll").size(), builtIn);
  EXPECT_TRUE(FreeLibrary(library));
}

DWORD FakeStatistics(PMIB_TCPSTATS stats) {
  stats->dwCurrEstab = 4242;
  return NO_ERROR;
}

TEST(DynamicLibrary, RegisteredLibrariesLoadAndReplacementsCanAddEntryPoints) {
  // A library that only a test introduces can be loaded while replaced, and is gone after.
  ReplaceLibraryExports("ICMP.DLL", {MakeExport("GetTcpStatistics", &FakeStatistics)});
  HMODULE icmp = LoadLibraryA("icmp");
  ASSERT_NE(icmp, nullptr);
  auto call = reinterpret_cast<PGetTcpStatistics>(GetProcAddress(icmp, "GetTcpStatistics"));
  ASSERT_NE(call, nullptr);
  MIB_TCPSTATS stats{};
  EXPECT_EQ(call(&stats), NO_ERROR);
  EXPECT_EQ(stats.dwCurrEstab, 4242u);
  FreeLibrary(icmp);
  RestoreLibraryExports("ICMP.DLL");
  EXPECT_EQ(LoadLibraryA("icmp.dll"), nullptr);

  RegisterLibrary("Other.dll", {MakeExport("Stats", &FakeStatistics)});
  HMODULE other = LoadLibraryA("other.dll");
  ASSERT_NE(other, nullptr);
  EXPECT_NE(GetProcAddress(other, "Stats"), nullptr);
  FreeLibrary(other);
}

TEST(ProcessHeap, BlocksKnowTheirSizeAndForeignHeapsAreRefused) {
  HANDLE heap = GetProcessHeap();
  auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 100));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, zeroed), 100u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(zeroed[i], 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(zeroed) % alignof(std::max_align_t), 0u);

  void* empty = HeapAlloc(heap, 0, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, empty), 0u);

  int other = 0;
  EXPECT_EQ(HeapAlloc(&other, 0, 8), nullptr);
  EXPECT_EQ(HeapSize(&other, 0, zeroed), static_cast<std::size_t>(-1));
  EXPECT_EQ(HeapSize(heap, 0, nullptr), static_cast<std::size_t>(-1));
  EXPECT_FALSE(HeapFree(&other, 0, zeroed));
  EXPECT_EQ(HeapAlloc(heap, 0, static_cast<std::size_t>(-1)), nullptr);

  EXPECT_TRUE(HeapFree(heap, 0, zeroed));
  EXPECT_TRUE(HeapFree(heap, 0, empty));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

}  // namespace
