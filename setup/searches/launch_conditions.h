// The launch conditions: the package's fixed list of system requirements
// (section GlobalLaunchConds), checked once in a fixed order; the first
// condition that fails shows its message and stops the setup.
//
// What a Linux machine answers: the OS identity is the distribution's name
// (GetOsDisplayName) in the NT family; screen size and colour depth come from
// the display when the program has one (no display: 0 x 0 at 0 bits);
// memory from the kernel; administrator rights are an effective user id of
// 0; the Windows components (Internet Explorer, IIS, .NET, Adobe Reader,
// DirectX, Java, Office, XNA, SQL Server, ActiveSync, interop assemblies,
// Office tools, SharePoint) are looked for in the registry store, the file
// system and the installer's component records, where this system simply
// has none unless a tool or a test put them there.
#pragma once

#include "messages.h"
#include "settings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

class SetupUi;

struct ScreenFacts {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

// The layers the conditions ask; an empty function takes the real query.
struct LaunchConditionContext {
    // The file whose "ProductName" names the product in the messages (the
    // file that holds the package); its file name when it has none.
    std::string productNameSource;
    // Closed before a message box and asked for its caption; may be null.
    SetupUi *ui = nullptr;
    // Where a failed condition is reported (also the debug output of a
    // silent run).
    SetupMessages messages;
    std::function<int()> osFamily;              // GetOsFamily
    std::function<std::string()> osDisplayName; // GetOsDisplayName
    std::function<ScreenFacts()> screen;        // the display's primary screen; none: 0 x 0
    std::function<uint64_t()> physicalMemory;   // bytes
    std::function<bool()> administrator;        // CanLockServiceDatabase
    // The download engine's reachability test; without one nothing is
    // reachable.
    std::function<bool(const std::string &url)> urlReachable;
    std::vector<std::string> internetAddresses{"https://www.wikipedia.org/",
                                               "https://www.debian.org/", "https://www.gnu.org/"};
};

// Whole-family labels of the OS lists.
inline constexpr std::string_view kWin9xFamilyLabel = "Windows 9x/ME";
inline constexpr std::string_view kWinNtFamilyLabel =
    "Windows NT/2000/XP/Vista/Windows 7/Windows 8 x86";
inline constexpr std::string_view kWinNt64FamilyLabel = "Windows XP/Vista/Windows 7/Windows 8 x64";

// True when every condition is met (an empty or clear setting is met
// without a look); a failed condition has been reported.
bool CheckLaunchConditions(const SetupSettings &settings, const LaunchConditionContext &context);

// The message of the id formatted with the product name and the value; to
// the log (with logging on); silent: to the debug output; else the status
// window closes and a box with the setup caption shows it.
void ReportLaunchConditionFailure(const LaunchConditionContext &context, uint32_t messageId,
                                  std::string_view value);

// True when the OS is allowed by the list of its family (family 0: 9x, 1:
// NT, 2: NT 64-bit). excludedByLabel tells whether the family's list held a
// whole-family label (message 206) rather than named versions (207).
bool IsOsExcluded(std::string_view win9xList, std::string_view winNtList,
                  std::string_view winNt64List, int family, std::string_view osDisplayName,
                  bool *excludedByLabel = nullptr);

// A prerequisite's LanguageList: decimal LANGIDs each ended by ";". Empty:
// true; else true when one equals the system default language.
bool LanguageListMatches(std::string_view list);

} // namespace krv::setup
