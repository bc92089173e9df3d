#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/LogRecMarker.h"
#include "common/MonListMonLogData.h"
#include "common/TimeText.h"

TEST(FieldText, CutsToFieldAndAlwaysTerminates) {
  _LogRecMarker header{};
  std::memset(&header, 0x55, sizeof header);
  SetFieldText(header.source, "255.255.255.255-and-more-text");
  EXPECT_EQ(GetFieldText(header.source), "255.255.255.255-and");  // 19 characters
  EXPECT_EQ(header.source[19], 0);
  // The neighbouring field is untouched by a long text.
  EXPECT_EQ(static_cast<unsigned char>(header.destination[0]), 0x55);
  SetFieldText(header.source, "1.2.3.4");
  EXPECT_EQ(GetFieldText(header.source), "1.2.3.4");
  for (int i = 7; i < 20; ++i) EXPECT_EQ(header.source[i], 0) << i;
}

TEST(FieldText, FullWidthTextHasNoTerminatorAndReadsBackWhole) {
  _MonListMonLogData data{};
  data.zero2[0] = 0x7F;  // a reader that ran past the field would pick this up
  const std::string fifty(50, 'p');
  SetFieldTextFull(data.processName, fifty + "overflow");
  EXPECT_EQ(data.processName[49], 'p');
  EXPECT_EQ(GetFieldText(data.processName), fifty);
}

TEST(AddressText, ClassicFormsAndInvalidText) {
  // Network byte order: the first octet is the lowest byte on this machine.
  EXPECT_EQ(InetAddr("10.0.0.1"), 0x0100000Au);
  EXPECT_EQ(InetAddr("127.1"), 0x0100007Fu);           // two-part form
  EXPECT_EQ(InetAddr("0x7f.0.0.1"), 0x0100007Fu);      // hex part
  EXPECT_EQ(InetAddr("not an address"), 0xFFFFFFFFu);  // INADDR_NONE
  EXPECT_EQ(InetAddr(""), 0xFFFFFFFFu);
  EXPECT_EQ(InetAddr(nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(InetNtoa(0x0100000Au), "10.0.0.1");
  EXPECT_EQ(InetNtoa(0), "0.0.0.0");
  EXPECT_EQ(InetNtoa(InetAddr("192.168.255.254")), "192.168.255.254");
}

TEST(TimeText, MillisecondsAndSpans) {
  setenv("TZ", "UTC", 1);
  tzset();
  // 2026-12-07 06:22:48 UTC
  EXPECT_EQ(FormatMillisTime(1796624568, 7), "12/07/26 06:22:48:007");
  EXPECT_EQ(FormatMillisTime(1796624568, 999), "12/07/26 06:22:48:999");
  EXPECT_EQ(FormatMillisTime(1796624569, 0), "12/07/26 06:22:49:000");  // next second, new prefix
  EXPECT_EQ(FormatLocalTime(1796624568, kTimeFormatLongYear), "12/07/2026 06:22:48");
  EXPECT_EQ(FormatSpan(0), "00:00:00");
  EXPECT_EQ(FormatSpan(3 * 3600 + 25 * 60 + 7), "03:25:07");
  EXPECT_EQ(FormatSpan(26 * 3600 + 5), "02:00:05");  // a span of a day and more wraps
  EXPECT_EQ(NowMillisText().size(), 21u);
}
