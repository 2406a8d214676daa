// A small registry of keys and typed values kept in files, in place of the
// Windows registry the setup bootstrapper reads and writes (registry
// references in settings, searches, the /cmdloc switch, resume data).
//
// Hives. HKLM (machine) and HKCU (current user) are two roots; HKCR lives in
// HKLM under "Software\Classes", HKCC under
// "System\CurrentControlSet\Hardware Profiles\Current", HKU is a third root.
// Roots, first match wins:
//   KRV_REGISTRY_ROOT=R   R/HKLM, R/HKCU, R/HKU
//   KRV_SETUP_ROOT=S      S/registry/HKLM, S/registry/HKCU, S/registry/HKU
//   otherwise             /var/lib/krv-setup/registry/HKLM and .../HKU,
//                         $XDG_DATA_HOME (~/.local/share)/krv-setup/registry/HKCU
// The roots are looked up on every call, so a test may move them at will.
//
// On disk. A key is a directory under its parent key's directory, named as it
// was first created (case kept), with "%", "/" and a leading "." written as
// %25, %2F and %2E. Names compare case-insensitively (ASCII, Latin-1 and
// Cyrillic letters in UTF-8). A key's values are one text file ".values" in
// its directory:
//   line 1      KRVREG 1
//   each value  <type> TAB <name> TAB <data> LF
//     type  "sz" (text), "dword" (32-bit number, decimal), "binary" (hex bytes)
//     name  the value name (empty for the key's default value)
//     name and text data: bytes below 0x20, "%" and 0x7F written as %XX
//     other types (written by a newer store) are kept line for line
//   A file that cannot be read cleanly (another header, CRLF line ends, a line
//   of no known shape, something else than a regular file, past 4 MB) is
//   damage: only its readable lines read, and no write or key removal
//   touches it.
// Key folders are made 0755 and values files 0644 (less the umask): never
// open to others.
// Every change writes a new ".values.tmp.<pid>.<n>" file, flushes it and
// renames it over ".values", under an flock on ".lock" in the key directory,
// so a reader sees the old or the new file and never half of one. Deleting a
// key renames its directory away first, then removes it. A whole new set of
// values can wait in ".values.<stage>" (never read) until one rename puts it
// in place; a damaged values file set aside lies beside its key's directory
// as "<key>.damaged-<n>", a file no key is named by.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krv::platform {

enum class RegistryHive { LocalMachine, CurrentUser, ClassesRoot, CurrentConfig, Users };

enum class RegistryValueType { Text, Number, Binary };

struct RegistryValue {
    RegistryValueType type = RegistryValueType::Text;
    std::string text;          // Text
    uint32_t number = 0;       // Number
    std::vector<uint8_t> data; // Binary

    static RegistryValue MakeText(std::string text);
    static RegistryValue MakeNumber(uint32_t number);
    static RegistryValue MakeBinary(std::vector<uint8_t> data);
};

// An opened key: its hive and its path as given ("Software\Vendor\Product",
// backslash-separated; "/" is also accepted as a separator).
struct RegistryKey {
    RegistryHive hive = RegistryHive::LocalMachine;
    std::string path;
};

// The directory that holds a hive's top-level keys (for tests and tools).
std::string RegistryHiveDirectory(RegistryHive hive);

// Opens an existing key; nothing when it does not exist. The empty path is
// the hive itself and always opens.
std::optional<RegistryKey> RegistryOpenKey(RegistryHive hive, std::string_view path);
// Opens a key, creating it and its missing parents.
std::optional<RegistryKey> RegistryCreateKey(RegistryHive hive, std::string_view path);
// Removes a key with everything below it. False when it did not exist, could
// not be removed, or holds damaged values anywhere below it.
bool RegistryDeleteKey(RegistryHive hive, std::string_view path);

// A value; nothing when the key or the value is missing.
std::optional<RegistryValue> RegistryGetValue(const RegistryKey &key, std::string_view name);
// Sets a value, creating the key when it is missing; the name keeps the case
// of its first writer. False when the store cannot be written or the key's
// values are damaged.
bool RegistrySetValue(const RegistryKey &key, std::string_view name, const RegistryValue &value);
bool RegistryDeleteValue(const RegistryKey &key, std::string_view name);

// A key's values as a whole, for a record that must change in one step.
using RegistryValueList = std::vector<std::pair<std::string, RegistryValue>>;
// Whether values of that size can be written and read back (a values file
// past the store's read limit is damage to it).
bool RegistryValuesFit(const RegistryValueList &values);
// Writes a whole new set of values for the key (made when missing) to a side
// file of its own named by `stage`, flushed, where no reader looks. False,
// with RegistryLastError saying why, when they would not fit or cannot be
// written.
bool RegistryStageValues(const RegistryKey &key, std::string_view stage,
                         const RegistryValueList &values);
// Puts the staged values in place of the key's values by one rename and
// flushes the folder. True when they are in place, and when nothing is
// staged (a run that already put them there). With `setAside`, damaged
// values in the way are first set aside as RegistrySetAsideDamagedValues
// does (their new path and what was wrong in *setAside); without, they stay
// and nothing changes. False, with RegistryLastError saying why, when the
// key's values are damaged (and stay) or cannot be read (they may be whole:
// they stay), the damaged ones cannot be moved aside, or the rename fails.
bool RegistryApplyStagedValues(const RegistryKey &key, std::string_view stage,
                               std::string *setAside = nullptr);
// A value of the staged values; nothing when none are staged or they lack it.
std::optional<RegistryValue> RegistryGetStagedValue(const RegistryKey &key, std::string_view stage,
                                                    std::string_view name);
// Throws staged values away (nothing when none are staged).
void RegistryDropStagedValues(const RegistryKey &key, std::string_view stage);
// A key whose values are damaged (no values file of this store, or past its
// size limit): its values file is moved out of the store's sight beside the
// key's folder (nothing is deleted), and the key reads as one without
// values. The new path of the damaged file, and in `why` what was wrong
// with it; nothing when the values are not damaged. A values file that
// could not be read (no permission, an I/O error) is not known to be
// damaged and stays: nothing, with RegistryLastError saying why, as when
// the damaged file cannot be moved.
std::optional<std::string> RegistrySetAsideDamagedValues(const RegistryKey &key, std::string &why);

// Names of the subkeys, and of the values, in the case they were created.
std::vector<std::string> RegistryListSubkeys(const RegistryKey &key);
std::vector<std::string> RegistryListValues(const RegistryKey &key);

// Why the last call of this thread failed on damaged values ("" when none):
// a reader tells damage from absence by it.
const std::string &RegistryLastError();

// Case-insensitive comparison of key and value names.
bool RegistryNamesEqual(std::string_view a, std::string_view b);

} // namespace krv::platform
