#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/IpHelper.h"
#include "platform/LastError.h"
#include "platform/ProcessHeap.h"

namespace {

TEST(DynamicLibrary, LoadsKnownLibrariesByNameInAnySpellingAndCountsLoads) {
  HMODULE lower = LoadLibraryA("iphlpapi.dll");
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(LoadLibraryA("IPHLPAPI.DLL"), lower);
  EXPECT_EQ(LoadLibraryA("IpHlpApi"), lower) << "no extension means .dll";
  EXPECT_EQ(LoadLibraryA("C:\\system\\iphlpapi.dll"), lower);
  EXPECT_EQ(LoadLibraryA("iphlpapi."), nullptr) << "a trailing dot means no extension";
  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);

  EXPECT_EQ(GetProcAddress(lower, "GetTcpTable"), reinterpret_cast<FARPROC>(&GetTcpTable));
  EXPECT_EQ(GetProcAddress(lower, "gettcptable"), nullptr) << "entry point names are exact";
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(lower, "GetIpNetTable"), nullptr) << "calls not carried here are absent";

  for (int i = 0; i < 4; ++i) EXPECT_TRUE(FreeLibrary(lower));
  EXPECT_FALSE(FreeLibrary(lower)) << "every load has been undone";
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
  {
    ScopedLibraryExports noIcmp("iphlpapi.dll", WithoutExports(LibraryExports("iphlpapi.dll"), {"GetIcmpStatistics"}));
    EXPECT_EQ(GetProcAddress(library, "GetIcmpStatistics"), nullptr);
    EXPECT_NE(GetProcAddress(library, "GetTcpStatistics"), nullptr);
  }
  {
    ScopedLibraryExports missing("iphlpapi.dll");
    EXPECT_EQ(LoadLibraryA("iphlpapi.dll"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "GetTcpTable"), nullptr);
  }
  EXPECT_NE(GetProcAddress(library, "AllocateAndGetTcpExTableFromStack"), nullptr);
  EXPECT_NE(GetProcAddress(library, "GetIcmpStatistics"), nullptr);
  EXPECT_EQ(LibraryExports("iphlpapi.dll").size(), builtIn);
  EXPECT_TRUE(FreeLibrary(library));
}

TEST(ProcessHeap, BlocksKnowTheirSizeAndForeignHeapsAreRefused) {
  HANDLE heap = GetProcessHeap();
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 100));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, block), 100u);
  EXPECT_EQ(std::count(block, block + 100, 0), 100);
  int other = 0;
  EXPECT_EQ(HeapAlloc(&other, 0, 8), nullptr);
  EXPECT_EQ(HeapSize(&other, 0, block), static_cast<std::size_t>(-1));
  EXPECT_FALSE(HeapFree(&other, 0, block));
  EXPECT_EQ(HeapAlloc(heap, 0, static_cast<std::size_t>(-1)), nullptr) << "size overflow";
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

}  // namespace
