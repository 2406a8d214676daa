#include "search_engine.h"

#include "command_line_text.h"
#include "files.h"
#include "installed_products.h"
#include "paths.h"
#include "system.h"

#include <setup_registry.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <mutex>
#include <optional>

namespace krv::setup {

namespace {

// Subkey names longer than this are not listed (the key enumeration's
// buffer).
constexpr std::size_t kMaxSubkeyName = 260;
// Related products enumerated at most for one upgrade code.
constexpr int kMaxRelatedProducts = 4096;

// "ROOT\key\path" to an opened key.
std::optional<platform::RegistryKey> OpenKeyReference(std::string_view reference) {
    const auto hive = ParseRegistryRoot(reference);
    if (!hive)
        return std::nullopt;
    std::string_view path = reference.substr(reference.find('\\') + 1);
    // A key text may end with a backslash ("...\InstallPath\").
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return platform::RegistryOpenKey(*hive, path);
}

// "ROOT\key\path\Name": the key and the value name after the last "\".
struct ValueReference {
    std::optional<platform::RegistryKey> key;
    std::string name;
};
ValueReference OpenValueReference(std::string_view reference) {
    ValueReference out;
    const std::size_t slash = reference.rfind('\\');
    if (slash == std::string_view::npos)
        return out;
    out.name = std::string(reference.substr(slash + 1));
    out.key = OpenKeyReference(reference.substr(0, slash));
    return out;
}

bool Within(const VersionQuad &v, const VersionQuad &min, bool minSet, const VersionQuad &max,
            bool maxSet) {
    return (!minSet || CompareVersions(min, v) <= 0) && (!maxSet || CompareVersions(max, v) >= 0);
}

struct FileWalk {
    std::string fileName;
    VersionQuad min, max;
    bool minSet = false, maxSet = false;
    SearchResult &result;
};

bool IsRealFolder(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// True when a version within the bounds was found (the walk stops).
bool SearchFolder(FileWalk &walk, std::string folder, int depth) {
    AddTrailingBackslash(folder);
    const std::string candidate = folder + walk.fileName;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        uint32_t high = 0, low = 0;
        GetFileVersionQuad(candidate, high, low);
        char text[64];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16,
                      low & 0xFFFF);
        VersionQuad version;
        ParseVersion(text, version);
        walk.result.foundValues.push_back(FormatVersion(version));
        if (Within(version, walk.min, walk.minSet, walk.max, walk.maxSet))
            return true;
    }
    if (depth <= 0)
        return false;
    DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return false;
    std::vector<std::string> subfolders;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // Links are not followed: a loop of links must not make the walk
        // endless.
        if (name != "." && name != ".." && IsRealFolder(folder + name))
            subfolders.push_back(folder + name);
    }
    ::closedir(dir);
    for (const std::string &sub : subfolders)
        if (SearchFolder(walk, sub, depth - 1))
            return true;
    return false;
}

void RunFileSearch(const SearchRecord &record, SearchResult &result,
                   const FixedDrivesQuery &fixedDrives) {
    std::string_view pattern = record.searchString;
    std::string_view suffix;
    if (const std::size_t q = pattern.find('?'); q != std::string_view::npos) {
        suffix = pattern.substr(q);
        pattern = pattern.substr(0, q);
    }
    std::vector<std::string> candidates;
    if (pattern.find_first_of("\\/]%!") == std::string_view::npos) {
        for (const std::string &root : fixedDrives ? fixedDrives() : ListFixedDrives())
            candidates.push_back(root + std::string(pattern) + std::string(suffix));
    } else {
        candidates.push_back(record.searchString);
    }
    FileWalk walk{{}, {}, {}, false, false, result};
    ParseVersion(record.verMin, walk.min);
    ParseVersion(record.verMax, walk.max);
    walk.minSet = !IsVersionUnset(walk.min);
    walk.maxSet = !IsVersionUnset(walk.max);
    for (const std::string &candidate : candidates) {
        std::string_view text = candidate;
        int depth = 0;
        if (const std::size_t q = text.find('?'); q != std::string_view::npos) {
            depth = ParseDecimal(text.substr(q + 1));
            text = text.substr(0, q);
        }
        const std::string expanded = ToNativePath(ExpandReferences(text));
        const std::size_t slash = expanded.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : expanded.substr(0, slash + 1);
        walk.fileName = slash == std::string::npos ? expanded : expanded.substr(slash + 1);
        if (walk.fileName.empty())
            continue;
        if (SearchFolder(walk, folder, depth))
            return;
    }
}

void AddProductVersion(std::string_view productCode, SearchResult &result) {
    if (auto version = ProductInfo(productCode, "VersionString"))
        result.foundValues.push_back(*version);
}

} // namespace

AllAnyAccumulator::AllAnyAccumulator(int32_t mode)
    : m_mode(mode), m_value(mode == search_mode::kAll) {}

void AllAnyAccumulator::Add(bool value) {
    if (m_mode == search_mode::kAll)
        m_value = m_value && value;
    else if (m_mode == search_mode::kAny)
        m_value = m_value || value;
}

bool AllAnyAccumulator::Decided() const {
    return (m_mode == search_mode::kAll && !m_value) || (m_mode == search_mode::kAny && m_value);
}

int QueryComponentState(std::string_view componentCode) {
    if (componentCode.empty())
        return component_state::kUnknown;
    auto key = platform::RegistryOpenKey(platform::RegistryHive::LocalMachine,
                                         std::string(kInstalledComponentsKey) + "\\" +
                                             std::string(componentCode));
    if (!key)
        return component_state::kUnknown;
    auto value = platform::RegistryGetValue(*key, "State");
    if (!value || value->type != platform::RegistryValueType::Number)
        return component_state::kUnknown;
    return static_cast<int>(value->number);
}

void RunSearch(const SearchRecord &record, bool wide64, SearchResult &result,
               const FixedDrivesQuery &fixedDrives) {
    switch (record.type) {
    case search_type::kFile: {
        // Redirection exists only for 32-bit programs on 64-bit Windows; the
        // calls keep the order the search was written for.
        FsRedirection redirection;
        if (wide64)
            DisableFsRedirection(redirection);
        RunFileSearch(record, result, fixedDrives);
        if (wide64)
            RevertFsRedirection(redirection);
        break;
    }
    case search_type::kRegistryKey:
        if (auto key = OpenKeyReference(record.searchString))
            for (std::string &name : platform::RegistryListSubkeys(*key))
                if (name.size() <= kMaxSubkeyName)
                    result.foundValues.push_back(std::move(name));
        break;
    case search_type::kRegistryValue: {
        // A number value reads as its decimal text, so that a version kept
        // as a number is found too.
        ValueReference ref = OpenValueReference(record.searchString);
        std::string text;
        if (ref.key && QueryRegistryValueText(*ref.key, ref.name, text))
            result.foundValues.push_back(std::move(text));
        break;
    }
    case search_type::kProduct:
        AddProductVersion(record.searchString, result);
        break;
    case search_type::kUpgradeCode:
        for (int index = 0; index < kMaxRelatedProducts; ++index) {
            auto product = RelatedProduct(record.searchString, index);
            if (!product)
                break;
            AddProductVersion(*product, result);
        }
        break;
    case search_type::kKeyExists:
    case search_type::kKeyMissing: {
        const bool exists = OpenKeyReference(record.searchString).has_value();
        result.found = record.type == search_type::kKeyExists ? exists : !exists;
        break;
    }
    case search_type::kValueExists:
    case search_type::kValueMissing: {
        ValueReference ref = OpenValueReference(record.searchString);
        const bool exists = ref.key && platform::RegistryGetValue(*ref.key, ref.name).has_value();
        result.found = record.type == search_type::kValueExists ? exists : !exists;
        break;
    }
    case search_type::kValueContent: {
        ValueReference ref = OpenValueReference(record.searchString);
        result.found = ref.key && QueryRegistryValueText(*ref.key, ref.name, result.foundText);
        break;
    }
    case search_type::kComponent: {
        const int state = QueryComponentState(record.searchString);
        result.found = state == component_state::kLocal || state == component_state::kSource;
        break;
    }
    case search_type::kDetectionProgram:
        // Needs the program's path: RunDetectionProgram.
        break;
    default:
        result.found = true;
        break;
    }
}

void RunDetectionProgram(const SearchRecord &record, const std::string &programPath,
                         SearchResult &result, const platform::ProcessLauncher &programs) {
    result.found = false;
    if (programPath.empty())
        return;
    uint32_t exitCode = 1;
    const bool started = ShellExecuteAndWait(programPath, ExpandReferences(record.searchCmdLine),
                                             &exitCode, record.refContent == "WND_HIDE", programs);
    result.found = started && exitCode == 0;
}

bool IsAllDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool CompareTextWithOperator(std::string_view found, std::string_view reference, char op) {
    // Numbers of any length compare by their digits: leading zeros dropped
    // (an empty text is 0), then the longer one is greater.
    auto compareNumbers = [&]() {
        auto strip = [](std::string_view t) {
            while (!t.empty() && t.front() == '0')
                t.remove_prefix(1);
            return t;
        };
        const std::string_view a = strip(found), b = strip(reference);
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        return a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0);
    };
    const bool numbers = IsAllDigits(found) && IsAllDigits(reference);
    switch (op) {
    case 'C':
        return found.find(reference) != std::string_view::npos;
    case 'D':
        return found != reference;
    case 'E':
        return found.size() >= reference.size() &&
               found.substr(found.size() - reference.size()) == reference;
    case 'G':
        return numbers && compareNumbers() > 0;
    case 'L':
        return numbers && compareNumbers() < 0;
    case 'M':
        return found == reference;
    case 'S':
        return found.substr(0, reference.size()) == reference;
    case 'X':
        return found.find(reference) == std::string_view::npos;
    default:
        return false;
    }
}

bool CompareVersionWithOperator(const SearchRecord &record, const SearchResult &result) {
    if (result.foundValues.empty())
        return false;
    VersionQuad min, max;
    ParseVersion(record.verMin, min);
    ParseVersion(record.verMax, max);
    const bool minSet = !IsVersionZero(min), maxSet = !IsVersionZero(max);
    if (!minSet && !maxSet)
        return true;
    for (const std::string &text : result.foundValues) {
        VersionQuad v;
        ParseVersion(text, v);
        if (!IsVersionZero(v) && Within(v, min, minSet, max, maxSet))
            return true;
    }
    return false;
}

bool EvaluateSearchResult(const SearchRecord &record, const SearchResult &result) {
    const int32_t type = record.type;
    if (type < 0 || type > search_type::kComponent)
        return true;
    if (type <= search_type::kUpgradeCode)
        return CompareVersionWithOperator(record, result);
    if (type == search_type::kValueContent) {
        if (!result.found)
            return false;
        const std::string_view ref = record.refContent;
        if (ref.empty())
            return false;
        return CompareTextWithOperator(result.foundText, ref.substr(1), ref.front());
    }
    return result.found;
}

bool RunSearches(const std::vector<SearchRecord> &searches, std::vector<SearchResult> &results,
                 int32_t mode, bool wide64, const DetectionProgramProvider &provider,
                 bool stopEarly, const platform::ProcessLauncher &programs) {
    results.clear();
    AllAnyAccumulator accumulator(mode);
    for (const SearchRecord &record : searches) {
        SearchResult result;
        if (record.type == search_type::kDetectionProgram)
            RunDetectionProgram(record, provider ? provider(record) : std::string(), result,
                                programs);
        else
            RunSearch(record, wide64, result);
        const bool value = EvaluateSearchResult(record, result);
        accumulator.Add(value);
        result.found = value;
        results.push_back(std::move(result));
        if (stopEarly && accumulator.Decided())
            break;
    }
    return accumulator.Value();
}

} // namespace krv::setup
