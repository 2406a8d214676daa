#include "version.h"

#include <gtest/gtest.h>

using namespace krv::setup;

namespace {

VersionQuad Parsed(const char *text) {
    VersionQuad v = SetVersion(9, 9, 9, 9);
    EXPECT_TRUE(ParseVersion(text, v)) << text;
    return v;
}

void ExpectParts(const VersionQuad &v, int a, int b, int c, int d) {
    EXPECT_EQ(v.major, a);
    EXPECT_EQ(v.minor, b);
    EXPECT_EQ(v.build, c);
    EXPECT_EQ(v.revision, d);
}

} // namespace

TEST(ParseVersion, ReadsDigitRunsWhateverSeparatesThem) {
    ExpectParts(Parsed("1.2"), 1, 2, 0, 0);
    ExpectParts(Parsed("version 10-20 build 30"), 10, 20, 30, 0);
    ExpectParts(Parsed("1.2.3.4.5"), 1, 2, 3, 4);
    ExpectParts(Parsed("v1-2"), 1, 2, 0, 0);
    ExpectParts(Parsed("1, 2"), 1, 2, 0, 0);
    ExpectParts(Parsed("007.08"), 7, 8, 0, 0);
}

TEST(ParseVersion, FailsWithoutDigitsAndLeavesZero) {
    VersionQuad v = SetVersion(1, 2, 3, 4);
    EXPECT_FALSE(ParseVersion("", v));
    ExpectParts(v, 0, 0, 0, 0);
    v = SetVersion(1, 2, 3, 4);
    EXPECT_FALSE(ParseVersion("no digits here", v));
    ExpectParts(v, 0, 0, 0, 0);
}

TEST(ParseVersion, RefusesPartsBeyondThirtyOneBits) {
    VersionQuad v;
    ExpectParts(Parsed("2147483647.1"), 2147483647, 1, 0, 0);
    // Each of these would wrap a 32-bit part.
    for (const char *text :
         {"2147483648", "1.2147483649", "1.2.3.99999999999", "1.2.3.4294967296"}) {
        v = SetVersion(5, 5, 5, 5);
        EXPECT_FALSE(ParseVersion(text, v)) << text;
        ExpectParts(v, 0, 0, 0, 0);
    }
    // A huge fifth part is never read.
    ExpectParts(Parsed("1.2.3.4.99999999999999"), 1, 2, 3, 4);
}

TEST(VersionQuad, SetVersionClampsNegativeParts) {
    ExpectParts(SetVersion(-1, 2, -3, 4), 0, 2, 0, 4);
}

TEST(VersionQuad, ComparesPartsAsNumbers) {
    EXPECT_EQ(CompareVersions(Parsed("1.10"), Parsed("1.9")), 1);
    EXPECT_EQ(CompareVersions(Parsed("1.9"), Parsed("1.10")), -1);
    EXPECT_EQ(CompareVersions(Parsed("2.0.0.1"), Parsed("2")), 1);
    EXPECT_EQ(CompareVersions(Parsed("3.1.4.1"), Parsed("3.1.4.1")), 0);
    EXPECT_TRUE(VersionsEqual(Parsed("1.2"), Parsed("1.2.0.0")));
    EXPECT_EQ(CompareVersions(SetVersion(1, 0, 0, 0), SetVersion(0, 65535, 65535, 65535)), 1);
}

TEST(VersionQuad, ZeroAndUnset) {
    EXPECT_TRUE(IsVersionZero(VersionQuad{}));
    EXPECT_TRUE(IsVersionUnset(VersionQuad{}));
    EXPECT_TRUE(IsVersionUnset(SetVersion(65535, 65535, 65535, 65535)));
    EXPECT_FALSE(IsVersionZero(SetVersion(65535, 65535, 65535, 65535)));
    EXPECT_FALSE(IsVersionUnset(SetVersion(65535, 65535, 65535, 0)));
    EXPECT_FALSE(IsVersionUnset(SetVersion(0, 0, 0, 1)));
}

TEST(FormatVersion, DropsTrailingZerosButKeepsTwoParts) {
    EXPECT_EQ(FormatVersion(SetVersion(1, 0, 0, 0)), "1.0");
    EXPECT_EQ(FormatVersion(SetVersion(1, 2, 3, 0)), "1.2.3");
    EXPECT_EQ(FormatVersion(SetVersion(0, 0, 0, 5)), "0.0.0.5");
    EXPECT_EQ(FormatVersion(SetVersion(0, 0, 0, 0)), "0.0.0.0");
    EXPECT_EQ(FormatVersion(SetVersion(1, 0, 2, 0)), "1.0.2");
}

TEST(FormatVersion, TrailingMaximumPartsDependOnTheFlag) {
    EXPECT_EQ(FormatVersion(SetVersion(2, 65535, 65535, 65535), false), "2.65535");
    EXPECT_EQ(FormatVersion(SetVersion(2, 65535, 65535, 65535), true), "2.65535.65535.65535");
    EXPECT_EQ(FormatVersion(SetVersion(65535, 65535, 65535, 65535), false), "0.0.0.0");
    EXPECT_EQ(FormatVersion(SetVersion(1, 2, 65535, 0), false), "1.2");
}

TEST(FormatVersion, RoundTripsThroughParse) {
    for (const char *text : {"1.2.3.4", "10.0", "0.0.0.7", "2147483647.1.2.3"})
        EXPECT_EQ(FormatVersion(Parsed(text)), text);
}

TEST(IsValidVersionText, AcceptsDottedNumbers) {
    EXPECT_TRUE(IsValidVersionText("4.0.30319", false));
    EXPECT_TRUE(IsValidVersionText("2", false));
    EXPECT_TRUE(IsValidVersionText("1.2.3.65535", false));
    EXPECT_TRUE(IsValidVersionText("255.255.65535", true));
}

TEST(IsValidVersionText, RejectsMalformedText) {
    for (const char *text :
         {"", ".1", "1.", "1..2", "1.2.3.4.5", "1.2a", "v1", "1 .2", "-1", "65536", "1.65536"})
        EXPECT_FALSE(IsValidVersionText(text, false)) << '"' << text << '"';
    EXPECT_FALSE(IsValidVersionText("256.0", true));
    EXPECT_FALSE(IsValidVersionText("1.256.0", true));
    EXPECT_TRUE(IsValidVersionText("1.255.300", true));
    // Long digit runs must not wrap around into a small number.
    EXPECT_FALSE(IsValidVersionText("1.4294967297", false));
}
