// The search engine: whether an acceptable version of a component is on this
// machine, for one search record (a file, a registry key or value, an
// installed product, a product family by upgrade code, an installer
// component or a detection program), and the merge of a prerequisite's
// searches by its operator (all / any).
//
// Linux meanings: files are searched on the mount points of local disks
// (ListFixedDrives) and carry versions in their ELF version note; registry
// searches read the registry store; products are those of our installer's
// installed-products store; components are recorded in the registry store
// under HKLM\Software\Krv\Installer\Components\<code> with a number value
// "State" (3 local, 4 from source), which a system without such components
// simply lacks. Searches never report errors: whatever cannot be read counts
// as not found.
#pragma once

#include "settings.h"
#include "version.h"

#include <setup_process.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

namespace search_type {
inline constexpr int32_t kFile = 0;
inline constexpr int32_t kRegistryKey = 1;
inline constexpr int32_t kRegistryValue = 2;
inline constexpr int32_t kProduct = 3;
inline constexpr int32_t kUpgradeCode = 4;
inline constexpr int32_t kKeyExists = 5;
inline constexpr int32_t kKeyMissing = 6;
inline constexpr int32_t kValueExists = 7;
inline constexpr int32_t kValueMissing = 8;
inline constexpr int32_t kValueContent = 9;
inline constexpr int32_t kDetectionProgram = 10;
inline constexpr int32_t kComponent = 11;
} // namespace search_type

// Operator modes of a prerequisite's searches.
namespace search_mode {
inline constexpr int32_t kAll = 0;
inline constexpr int32_t kAny = 1;
} // namespace search_mode

struct SearchResult {
    std::vector<std::string> foundValues; // versions or key names
    std::string foundText;                // registry value content
    bool found = false;
};

// Starts true for "all", false for "any"; other modes keep the start value
// (false).
class AllAnyAccumulator {
  public:
    explicit AllAnyAccumulator(int32_t mode);
    void Add(bool value);
    bool Value() const { return m_value; }
    // The outcome can no longer change (all: a false came; any: a true).
    bool Decided() const;

  private:
    int32_t m_mode;
    bool m_value;
};

// Gives the detection program's path for a type-10 record; empty when the
// package does not carry it.
using DetectionProgramProvider = std::function<std::string(const SearchRecord &)>;

// Runs the records in order, one result each (results is cleared first),
// and returns the accumulated value; with stopEarly, stops as soon as the
// outcome is decided. Detection programs start through `programs` (empty:
// for real).
bool RunSearches(const std::vector<SearchRecord> &searches, std::vector<SearchResult> &results,
                 int32_t mode, bool wide64, const DetectionProgramProvider &provider,
                 bool stopEarly, const platform::ProcessLauncher &programs = {});
// The mount points a bare file name is searched on; empty: ListFixedDrives.
using FixedDrivesQuery = std::function<std::vector<std::string>()>;
// One record by its type (type 10 needs the provider: see RunDetectionProgram).
void RunSearch(const SearchRecord &record, bool wide64, SearchResult &result,
               const FixedDrivesQuery &fixedDrives = {});
void RunDetectionProgram(const SearchRecord &record, const std::string &programPath,
                         SearchResult &result, const platform::ProcessLauncher &programs = {});
bool EvaluateSearchResult(const SearchRecord &record, const SearchResult &result);
bool CompareVersionWithOperator(const SearchRecord &record, const SearchResult &result);
bool CompareTextWithOperator(std::string_view found, std::string_view reference, char op);
bool IsAllDigits(std::string_view text);

// Component states as the installer numbers them.
namespace component_state {
inline constexpr int kUnknown = -1;
inline constexpr int kLocal = 3;
inline constexpr int kSource = 4;
} // namespace component_state
inline constexpr std::string_view kInstalledComponentsKey = "Software\\Krv\\Installer\\Components";
int QueryComponentState(std::string_view componentCode);

} // namespace krv::setup
