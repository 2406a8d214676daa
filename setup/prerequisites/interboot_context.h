// A store of named text values under one key of the current user's registry
// (platform/setup_registry.h), and the one the prerequisites use: the key
// "InterbootContext", which carries the exit codes of prerequisite setups
// across a restart of the machine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace krv::setup {

struct SetupSettings;

inline constexpr const char *kInterbootContextKey = "InterbootContext";

// Results of the store's operations.
namespace store_result {
inline constexpr int kOk = 0;
inline constexpr int kNotFound = 1;  // GetString: no such value (or no key)
inline constexpr int kNotNumber = 2; // GetInt: missing, or not a whole decimal number
inline constexpr int kPresent = 3;   // AddString: the value exists and was kept
inline constexpr int kWriteFailed = 4;
} // namespace store_result

class RegistryValue {
  public:
    // Called once at destruction with the store and its user data.
    using ReadBack = std::function<void(RegistryValue &store, SetupSettings *userData)>;

    RegistryValue(std::string keyPath, ReadBack readBack, SetupSettings *userData);
    // Runs the read-back, then deletes the key when delete-on-destruction is
    // set (it is by construction); cleared, the values stay for the next
    // start of the program.
    ~RegistryValue();
    RegistryValue(const RegistryValue &) = delete;
    RegistryValue &operator=(const RegistryValue &) = delete;

    // The value as signed decimal text, through AddString.
    int SetInt(const std::string &name, int32_t value);
    // Writes only a value that does not exist yet: the first value stored
    // under a name is kept over later ones.
    int AddString(const std::string &name, const std::string &text);
    int GetInt(const std::string &name, int32_t &value) const;
    int GetString(const std::string &name, std::string &text) const;
    // 0 when the value existed and was removed.
    int DeleteValue(const std::string &name);
    // Every (name, text) pair of the key, in the order they were written.
    std::vector<std::pair<std::string, std::string>> Values() const;

    void SetDeleteOnDestruction(bool on) { m_deleteOnDestruction = on; }

  private:
    std::string m_keyPath;
    ReadBack m_readBack;
    bool m_deleteOnDestruction = true;
    SetupSettings *m_userData;
};

// A base-10 number that fills the whole text and fits 32 bits (signed, or
// unsigned as exit codes are stored); false for anything else.
bool ParseStoredInt(const std::string &text, int32_t &value);

// Gives every stored pair back to the settings as a prerequisite result.
void ReadBackPrerequisiteResults(const RegistryValue &store, SetupSettings &settings);

// The "InterbootContext" store with ReadBackPrerequisiteResults as its
// read-back.
std::unique_ptr<RegistryValue> MakeInterbootContext(SetupSettings &settings);

} // namespace krv::setup
