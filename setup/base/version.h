// Four-part version numbers (major.minor.build.revision) as the setup reads
// them from settings, registry values, file versions and update files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace krv::setup {

// Four signed 32-bit parts; an unset part is 0.
struct VersionQuad {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    int32_t revision = 0;
};

// A version from four numbers; a negative number becomes 0.
VersionQuad SetVersion(int32_t major, int32_t minor, int32_t build, int32_t revision);

// Reads up to four runs of decimal digits from the text; any other characters
// separate the parts ("1.2.3", "v1-2", "10-20 build 30"). Text after the
// fourth part is ignored; missing parts are 0. False (and all parts 0) for a
// text without digits or with a part that does not fit in a signed 32-bit
// number.
bool ParseVersion(std::string_view text, VersionQuad &out);

// -1, 0 or 1, part by part from major to revision, as signed numbers.
int CompareVersions(const VersionQuad &x, const VersionQuad &y);
bool VersionsEqual(const VersionQuad &x, const VersionQuad &y);
// All four parts 0.
bool IsVersionZero(const VersionQuad &v);
// All four parts 0, or all four 65535.
bool IsVersionUnset(const VersionQuad &v);

// "1.2.3": trailing 0 parts are dropped, and trailing 65535 parts unless
// keep65535 is set; the first two parts are always printed; "0.0.0.0" when
// nothing is left.
std::string FormatVersion(const VersionQuad &v, bool keep65535 = false);

// A strict dotted version text: digits and single dots only, no leading or
// trailing dot, at most four groups, each below 65536 (the first two below
// 256 with smallFirstParts).
bool IsValidVersionText(std::string_view text, bool smallFirstParts);

} // namespace krv::setup
