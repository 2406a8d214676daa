#include "setup_registry.h"

#include "decimal_text.h"
#include "file_open.h"
#include "setup_folders.h"
#include "setup_system.h"
#include "setup_utf8.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace krv::platform {

namespace {

constexpr const char *kValuesFile = ".values";
constexpr const char *kLockFile = ".lock";
constexpr const char *kHeader = "KRVREG 1";
// Far past any key's values; a larger file is damage, not something to load.
constexpr uint64_t kMaxValuesFileBytes = 4u << 20;

std::string EnvOrEmpty(const char *name) {
    const char *v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void TrimTrailingSlashes(std::string &s) {
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
}

std::string HiveRootDirectory(const char *hiveName) {
    std::string root = EnvOrEmpty("KRV_REGISTRY_ROOT");
    if (!root.empty()) {
        TrimTrailingSlashes(root);
        return root + "/" + hiveName;
    }
    if (std::string setupRoot = SetupRootDirectory(); !setupRoot.empty())
        return setupRoot + "/registry/" + hiveName;
    if (std::strcmp(hiveName, "HKCU") == 0) {
        std::string data = EnvOrEmpty("XDG_DATA_HOME");
        if (data.empty()) {
            std::string home = EnvOrEmpty("HOME");
            data = (home.empty() ? std::string("/tmp") : home) + "/.local/share";
        }
        TrimTrailingSlashes(data);
        return data + "/krv-setup/registry/HKCU";
    }
    return std::string("/var/lib/krv-setup/registry/") + hiveName;
}

uint32_t FoldCodePoint(uint32_t cp) {
    if (cp >= 'A' && cp <= 'Z')
        return cp + 0x20;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)
        return cp + 0x20;
    if (cp >= 0x410 && cp <= 0x42F)
        return cp + 0x20;
    if (cp >= 0x400 && cp <= 0x40F)
        return cp + 0x50;
    // Cyrillic pairs beyond the basic alphabet (Ukrainian Ґ among them):
    // the capital is the even code point.
    if (((cp >= 0x460 && cp <= 0x481) || (cp >= 0x48A && cp <= 0x4BF)) && cp % 2 == 0)
        return cp + 1;
    return cp;
}

// Lower-case form for comparisons. Bytes that are not valid UTF-8 are kept.
std::string FoldName(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80         ? 1
                          : (b >> 5) == 6  ? 2
                          : (b >> 4) == 14 ? 3
                          : (b >> 3) == 30 ? 4
                                           : 0;
        bool valid = len > 0 && i + len <= s.size();
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; valid && k < len; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                valid = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!valid) {
            out += s[i++];
            continue;
        }
        AppendUtf8(out, FoldCodePoint(cp));
        i += len;
    }
    return out;
}

const char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int hi = HexValue(s[i + 1]);
            int lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

void AppendEscaped(std::string &out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

// A key name as a directory name.
std::string EscapeKeyName(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (c == '%' || c == '/' || c < 0x20 || c == 0x7F || (i == 0 && c == '.'))
            AppendEscaped(out, c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

// A value name or text as one field of a line of the values file.
std::string EscapeField(std::string_view text) {
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == '%' || c == 0x7F)
            AppendEscaped(out, c);
        else
            out += ch;
    }
    return out;
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!current.empty())
                parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        parts.push_back(std::move(current));
    return parts;
}

// The hive's directory and the components of the path below it.
std::pair<std::string, std::vector<std::string>> Locate(RegistryHive hive, std::string_view path) {
    std::vector<std::string> parts;
    std::string dir;
    switch (hive) {
    case RegistryHive::LocalMachine:
        dir = HiveRootDirectory("HKLM");
        break;
    case RegistryHive::CurrentUser:
        dir = HiveRootDirectory("HKCU");
        break;
    case RegistryHive::Users:
        dir = HiveRootDirectory("HKU");
        break;
    case RegistryHive::ClassesRoot:
        dir = HiveRootDirectory("HKLM");
        parts = {"Software", "Classes"};
        break;
    case RegistryHive::CurrentConfig:
        dir = HiveRootDirectory("HKLM");
        parts = {"System", "CurrentControlSet", "Hardware Profiles", "Current"};
        break;
    }
    for (auto &p : SplitKeyPath(path))
        parts.push_back(std::move(p));
    return {dir, parts};
}

// The existing child directory whose name matches, in any case.
std::optional<std::string> FindChild(const std::string &dir, const std::string &name) {
    std::error_code ec;
    std::string exact = dir + "/" + EscapeKeyName(name);
    struct stat st {};
    if (::lstat(exact.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return exact;
    std::string folded = FoldName(name);
    fs::directory_iterator it(dir, ec);
    if (ec)
        return std::nullopt;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            return std::nullopt;
        std::string entry = it->path().filename().string();
        if (entry.empty() || entry[0] == '.')
            continue;
        if (!it->is_directory(ec) || it->is_symlink(ec))
            continue;
        if (FoldName(PercentDecode(entry)) == folded)
            return it->path().string();
    }
    return std::nullopt;
}

bool MakeDirectories(const std::string &dir) {
    if (MakePublicFolders(dir) != 0)
        return false;
    std::error_code ec;
    return fs::is_directory(dir, ec);
}

// The directory of the key; with create, missing keys are made on the way.
std::optional<std::string> KeyDirectory(RegistryHive hive, std::string_view path, bool create) {
    auto [dir, parts] = Locate(hive, path);
    if (create && !MakeDirectories(dir))
        return std::nullopt;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    for (const auto &part : parts) {
        auto child = FindChild(dir, part);
        if (!child && create) {
            std::string made = dir + "/" + EscapeKeyName(part);
            if (::mkdir(made.c_str(), 0755) == 0)
                child = made;
            else if (errno == EEXIST)
                child = FindChild(dir, part);
        }
        if (!child)
            return std::nullopt;
        dir = *child;
    }
    return dir;
}

struct StoredValue {
    std::string name;
    RegistryValue value;
    // A line of a type this store does not know, kept as it stands.
    std::string verbatim;
};

enum class LineKind { Value, Unknown, Damaged };

LineKind ParseLine(std::string_view line, StoredValue &out) {
    auto tab1 = line.find('\t');
    if (tab1 == std::string_view::npos)
        return LineKind::Damaged;
    auto tab2 = line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos)
        return LineKind::Damaged;
    std::string_view type = line.substr(0, tab1);
    out.name = PercentDecode(line.substr(tab1 + 1, tab2 - tab1 - 1));
    std::string_view data = line.substr(tab2 + 1);
    if (type == "sz") {
        out.value = RegistryValue::MakeText(PercentDecode(data));
        return LineKind::Value;
    }
    if (type == "dword") {
        const std::optional<uint32_t> n = ParseDecimalUint32(data);
        if (!n)
            return LineKind::Damaged;
        out.value = RegistryValue::MakeNumber(*n);
        return LineKind::Value;
    }
    if (type == "binary") {
        if (data.size() % 2)
            return LineKind::Damaged;
        std::vector<uint8_t> bytes;
        bytes.reserve(data.size() / 2);
        for (std::size_t i = 0; i < data.size(); i += 2) {
            int hi = HexValue(data[i]);
            int lo = HexValue(data[i + 1]);
            if (hi < 0 || lo < 0)
                return LineKind::Damaged;
            bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        out.value = RegistryValue::MakeBinary(std::move(bytes));
        return LineKind::Value;
    }
    // A type of a newer writer ("qword", "multi_sz", ...): its name is known,
    // its line is kept whole.
    if (type.empty())
        return LineKind::Damaged;
    out.verbatim.assign(line);
    return LineKind::Unknown;
}

thread_local std::string g_lastError;

// The values of a key directory. A file this store cannot read whole and
// cleanly is not `ok`: nothing may rewrite it or remove its key. It is
// `damaged` when what stands there is no values file of this store (another
// header, CRLF line ends, a line of no known shape, a folder or pipe in its
// place, an oversized file); the lines that could be read are still given.
// A file that could not be opened or read (no permission, an I/O error, no
// descriptor left) is not known to be damaged: it may be whole. Lines of an
// unknown type are no damage; they are kept for the rewrite.
struct ValuesFile {
    bool ok = true;
    bool damaged = false;
    std::vector<StoredValue> values;
};

ValuesFile ReadValuesFile(const std::string &path) {
    const auto damaged = [&path](const char *why) {
        g_lastError = path + ": " + why;
        return ValuesFile{false, true, {}};
    };
    std::string text;
    const FileError error = ReadRegularFile(path, kMaxValuesFileBytes, text);
    if (error == FileError::Missing)
        return {};
    if (error == FileError::Failed) {
        g_lastError = path + ": " + std::strerror(errno);
        return ValuesFile{false, false, {}};
    }
    if (error != FileError::None)
        return damaged(FileErrorText(error));
    ValuesFile file;
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size(); // an unterminated last line still counts
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (first) {
            first = false;
            if (line != kHeader)
                return damaged("not a values file of this version");
            continue;
        }
        StoredValue v;
        if (line.find('\r') != std::string_view::npos || ParseLine(line, v) == LineKind::Damaged) {
            damaged("unreadable line");
            file.ok = false; // what can be read is still given, never rewritten
            file.damaged = true;
            continue;
        }
        file.values.push_back(std::move(v));
    }
    return file;
}

ValuesFile ReadValues(const std::string &dir) {
    return ReadValuesFile(dir + "/" + kValuesFile);
}

// True when no values file below `dir` (its own included) is damaged.
bool SubtreeValuesReadable(const std::string &dir) {
    if (!ReadValues(dir).ok)
        return false;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        g_lastError = dir + ": " + ec.message();
        return false;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            return false;
        const std::string entry = it->path().filename().string();
        if (entry.empty() || entry[0] == '.' || it->is_symlink(ec) || !it->is_directory(ec))
            continue;
        if (!SubtreeValuesReadable(it->path().string()))
            return false;
    }
    return true;
}

std::string FormatValues(const std::vector<StoredValue> &values) {
    std::string text = kHeader;
    text += '\n';
    for (const auto &v : values) {
        if (!v.verbatim.empty()) {
            text += v.verbatim + "\n";
            continue;
        }
        switch (v.value.type) {
        case RegistryValueType::Text:
            text += "sz\t" + EscapeField(v.name) + "\t" + EscapeField(v.value.text);
            break;
        case RegistryValueType::Number:
            text += "dword\t" + EscapeField(v.name) + "\t" + std::to_string(v.value.number);
            break;
        case RegistryValueType::Binary:
            text += "binary\t" + EscapeField(v.name) + "\t";
            for (uint8_t b : v.value.data) {
                text += kHex[b >> 4];
                text += kHex[b & 0x0F];
            }
            break;
        }
        text += '\n';
    }
    return text;
}

std::atomic<unsigned> g_tempCounter{0};

std::string UniqueSuffix() {
    return std::to_string(::getpid()) + "." + std::to_string(g_tempCounter.fetch_add(1));
}

// A values file is written by its owner alone: a record others may write
// is one they may forge.
bool WriteValuesFile(const std::string &path, const std::string &text) {
    return ReplaceFileAtomically(path, text, 0644);
}

// Replaces the values file of a key directory in one rename.
bool WriteValuesAtomically(const std::string &dir, const std::vector<StoredValue> &values) {
    return WriteValuesFile(dir + "/" + kValuesFile, FormatValues(values));
}

// Holds the key's lock file for a read-modify-write of its values.
class KeyLock {
  public:
    explicit KeyLock(const std::string &dir) {
        std::string path = dir + "/" + kLockFile;
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~KeyLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    KeyLock(const KeyLock &) = delete;
    KeyLock &operator=(const KeyLock &) = delete;
    bool Held() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};

std::vector<StoredValue>::iterator FindValue(std::vector<StoredValue> &values,
                                             std::string_view name) {
    return std::find_if(values.begin(), values.end(),
                        [name](const StoredValue &v) { return RegistryNamesEqual(v.name, name); });
}

// A read-modify-write of a key's values under its lock: `edit` changes them
// and says whether there is anything to write. False when the key cannot be
// reached (or, with `create`, made) or read, or there is nothing to write.
bool EditValues(const RegistryKey &key, bool create,
                const std::function<bool(std::vector<StoredValue> &)> &edit) {
    g_lastError.clear();
    auto dir = KeyDirectory(key.hive, key.path, create);
    if (!dir)
        return false;
    KeyLock lock(*dir);
    if (!lock.Held())
        return false;
    auto file = ReadValues(*dir);
    if (!file.ok || !edit(file.values))
        return false;
    return WriteValuesAtomically(*dir, file.values);
}

} // namespace

RegistryValue RegistryValue::MakeText(std::string text) {
    RegistryValue v;
    v.type = RegistryValueType::Text;
    v.text = std::move(text);
    return v;
}

RegistryValue RegistryValue::MakeNumber(uint32_t number) {
    RegistryValue v;
    v.type = RegistryValueType::Number;
    v.number = number;
    return v;
}

RegistryValue RegistryValue::MakeBinary(std::vector<uint8_t> data) {
    RegistryValue v;
    v.type = RegistryValueType::Binary;
    v.data = std::move(data);
    return v;
}

const std::string &RegistryLastError() {
    return g_lastError;
}

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
    return FoldName(a) == FoldName(b);
}

std::string RegistryHiveDirectory(RegistryHive hive) {
    return Locate(hive, "").first;
}

std::optional<RegistryKey> RegistryOpenKey(RegistryHive hive, std::string_view path) {
    if (SplitKeyPath(path).empty())
        return RegistryKey{hive, std::string(path)};
    if (!KeyDirectory(hive, path, false))
        return std::nullopt;
    return RegistryKey{hive, std::string(path)};
}

std::optional<RegistryKey> RegistryCreateKey(RegistryHive hive, std::string_view path) {
    if (!KeyDirectory(hive, path, true))
        return std::nullopt;
    return RegistryKey{hive, std::string(path)};
}

bool RegistryDeleteKey(RegistryHive hive, std::string_view path) {
    // Never a whole hive: HKCR and HKCC are keys of HKLM here, so the path
    // given must name a key of its own.
    if (SplitKeyPath(path).empty())
        return false;
    g_lastError.clear();
    auto dir = KeyDirectory(hive, path, false);
    if (!dir)
        return false;
    // Values that could not be read may be all that is left of something:
    // such a key stays.
    if (!SubtreeValuesReadable(*dir))
        return false;
    // Out of sight first, so that no reader finds a half-removed key.
    fs::path source(*dir);
    std::string hidden = source.parent_path().string() + "/.deleted." + UniqueSuffix();
    if (::rename(dir->c_str(), hidden.c_str()) != 0)
        return false;
    std::error_code ec;
    fs::remove_all(hidden, ec);
    return true;
}

std::optional<RegistryValue> RegistryGetValue(const RegistryKey &key, std::string_view name) {
    g_lastError.clear();
    auto dir = KeyDirectory(key.hive, key.path, false);
    if (!dir)
        return std::nullopt;
    auto file = ReadValues(*dir);
    auto it = FindValue(file.values, name);
    if (it == file.values.end())
        return std::nullopt;
    if (!it->verbatim.empty()) {
        g_lastError = *dir + ": value of a type this store does not know";
        return std::nullopt;
    }
    return it->value;
}

bool RegistrySetValue(const RegistryKey &key, std::string_view name, const RegistryValue &value) {
    return EditValues(key, true, [&](std::vector<StoredValue> &values) {
        auto it = FindValue(values, name);
        if (it != values.end())
            *it = {it->name, value, {}};
        else
            values.push_back({std::string(name), value, {}});
        return true;
    });
}

bool RegistryDeleteValue(const RegistryKey &key, std::string_view name) {
    return EditValues(key, false, [&](std::vector<StoredValue> &values) {
        auto it = FindValue(values, name);
        if (it == values.end())
            return false;
        values.erase(it);
        return true;
    });
}

namespace {

std::vector<StoredValue> StoredValues(const RegistryValueList &values) {
    std::vector<StoredValue> stored;
    stored.reserve(values.size());
    for (const auto &[name, value] : values)
        stored.push_back({name, value, {}});
    return stored;
}

std::string StagedValuesPath(const std::string &dir, std::string_view stage) {
    return dir + "/" + kValuesFile + "." + std::string(stage);
}

bool UsableStage(std::string_view stage) {
    return !stage.empty() && stage.find('/') == std::string_view::npos;
}

// Moves the damaged values file of a key directory beside the directory,
// under a name no key can have (keys are folders; this is a file), so that
// removing the key keeps it. The new path; nothing, with g_lastError saying
// why, when it cannot be moved. Called with the key's lock held.
std::optional<std::string> MoveValuesAside(const std::string &dir, const std::string &why) {
    const std::string from = dir + "/" + kValuesFile;
    for (unsigned n = 1; n < 1000; ++n) {
        const std::string to = dir + ".damaged-" + std::to_string(n);
        struct stat st {};
        if (::lstat(to.c_str(), &st) == 0)
            continue;
        if (::rename(from.c_str(), to.c_str()) != 0) {
            g_lastError = "cannot move " + from + " (" + why + ") aside: " + std::strerror(errno);
            return std::nullopt;
        }
        SyncFolder(fs::path(dir).parent_path().string());
        return to;
    }
    g_lastError = "cannot move " + from + " (" + why + ") aside: every name beside it is taken";
    return std::nullopt;
}

} // namespace

bool RegistryValuesFit(const RegistryValueList &values) {
    return FormatValues(StoredValues(values)).size() <= kMaxValuesFileBytes;
}

bool RegistryStageValues(const RegistryKey &key, std::string_view stage,
                         const RegistryValueList &values) {
    g_lastError.clear();
    if (!UsableStage(stage))
        return false;
    const std::string text = FormatValues(StoredValues(values));
    if (text.size() > kMaxValuesFileBytes) {
        g_lastError = "the values would be past the size the store reads back (" +
                      std::to_string(text.size()) + " bytes)";
        return false;
    }
    errno = 0;
    const auto dir = KeyDirectory(key.hive, key.path, true);
    if (!dir) {
        g_lastError = "cannot create the key " + key.path +
                      (errno != 0 ? std::string(": ") + std::strerror(errno)
                                  : std::string(": a name on its way is not a key"));
        return false;
    }
    const std::string path = StagedValuesPath(*dir, stage);
    if (!WriteValuesFile(path, text)) {
        g_lastError = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool RegistryApplyStagedValues(const RegistryKey &key, std::string_view stage,
                               std::string *setAside) {
    g_lastError.clear();
    if (!UsableStage(stage))
        return false;
    const auto dir = KeyDirectory(key.hive, key.path, false);
    if (!dir)
        return true; // nothing staged under a key that is not there
    KeyLock lock(*dir);
    const std::string staged = StagedValuesPath(*dir, stage);
    struct stat st {};
    if (::lstat(staged.c_str(), &st) != 0 && errno == ENOENT)
        return true; // put in place already
    // Damaged values are never overwritten (they may be all that is left of
    // something): they stay, or are kept aside when the caller says the
    // staged values are the ones to keep. Values that could not be read may
    // be whole: they stay.
    const ValuesFile file = ReadValues(*dir);
    if (!file.ok && (!file.damaged || !setAside)) {
        g_lastError = "the values in place cannot be read: " + g_lastError;
        return false;
    }
    if (file.damaged) {
        const std::string why = g_lastError;
        const auto aside = MoveValuesAside(*dir, why);
        if (!aside)
            return false;
        *setAside = *aside + " (" + why + ")";
    }
    if (::rename(staged.c_str(), (*dir + "/" + kValuesFile).c_str()) != 0) {
        if (errno == ENOENT)
            return true;
        g_lastError = "cannot put " + staged + " in place: " + std::strerror(errno);
        return false;
    }
    SyncFolder(*dir);
    return true;
}

void RegistryDropStagedValues(const RegistryKey &key, std::string_view stage) {
    if (!UsableStage(stage))
        return;
    if (const auto dir = KeyDirectory(key.hive, key.path, false))
        ::unlink(StagedValuesPath(*dir, stage).c_str());
}

std::optional<std::string> RegistrySetAsideDamagedValues(const RegistryKey &key, std::string &why) {
    g_lastError.clear();
    const auto dir = KeyDirectory(key.hive, key.path, false);
    if (!dir)
        return std::nullopt;
    KeyLock lock(*dir);
    const ValuesFile file = ReadValues(*dir);
    // A file that could not be read may be whole: it stays, and
    // RegistryLastError says why it could not be read.
    if (file.ok || !file.damaged)
        return std::nullopt;
    why = g_lastError;
    return MoveValuesAside(*dir, why);
}

std::optional<RegistryValue> RegistryGetStagedValue(const RegistryKey &key, std::string_view stage,
                                                    std::string_view name) {
    g_lastError.clear();
    const auto dir = UsableStage(stage) ? KeyDirectory(key.hive, key.path, false) : std::nullopt;
    if (!dir)
        return std::nullopt;
    auto file = ReadValuesFile(StagedValuesPath(*dir, stage));
    auto it = FindValue(file.values, name);
    if (it == file.values.end() || !it->verbatim.empty())
        return std::nullopt;
    return it->value;
}

std::vector<std::string> RegistryListSubkeys(const RegistryKey &key) {
    std::vector<std::string> names;
    auto dir = KeyDirectory(key.hive, key.path, false);
    if (!dir)
        return names;
    std::error_code ec;
    fs::directory_iterator it(*dir, ec);
    if (ec)
        return names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::string entry = it->path().filename().string();
        if (entry.empty() || entry[0] == '.' || it->is_symlink(ec) || !it->is_directory(ec))
            continue;
        names.push_back(PercentDecode(entry));
    }
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return FoldName(a) < FoldName(b); });
    return names;
}

std::vector<std::string> RegistryListValues(const RegistryKey &key) {
    g_lastError.clear();
    std::vector<std::string> names;
    auto dir = KeyDirectory(key.hive, key.path, false);
    if (!dir)
        return names;
    for (auto &v : ReadValues(*dir).values)
        names.push_back(std::move(v.name));
    return names;
}

} // namespace krv::platform
