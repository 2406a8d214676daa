#include "interboot_context.h"

#include "prerequisite_model.h"

#include <setup_registry.h>

#include <cerrno>
#include <cstdlib>

namespace krv::setup {
namespace {

using platform::RegistryHive;

std::optional<platform::RegistryKey> OpenStoreKey(const std::string &path) {
    return platform::RegistryOpenKey(RegistryHive::CurrentUser, path);
}

} // namespace

RegistryValue::RegistryValue(std::string keyPath, ReadBack readBack, SetupSettings *userData)
    : m_keyPath(std::move(keyPath)), m_readBack(std::move(readBack)), m_userData(userData) {}

RegistryValue::~RegistryValue() {
    if (m_readBack)
        m_readBack(*this, m_userData);
    // Exit codes stored before a restart must survive this run's end: the
    // key goes only when the owner has not asked to keep it.
    if (m_deleteOnDestruction)
        platform::RegistryDeleteKey(RegistryHive::CurrentUser, m_keyPath);
}

int RegistryValue::SetInt(const std::string &name, int32_t value) {
    return AddString(name, std::to_string(value));
}

int RegistryValue::AddString(const std::string &name, const std::string &text) {
    std::string existing;
    if (GetString(name, existing) == store_result::kOk)
        return store_result::kPresent;
    auto key = platform::RegistryCreateKey(RegistryHive::CurrentUser, m_keyPath);
    if (!key || !platform::RegistrySetValue(*key, name, platform::RegistryValue::MakeText(text)))
        return store_result::kWriteFailed;
    return store_result::kOk;
}

int RegistryValue::GetInt(const std::string &name, int32_t &value) const {
    std::string text;
    if (GetString(name, text) != store_result::kOk || !ParseStoredInt(text, value))
        return store_result::kNotNumber;
    return store_result::kOk;
}

int RegistryValue::GetString(const std::string &name, std::string &text) const {
    auto key = OpenStoreKey(m_keyPath);
    if (!key)
        return store_result::kNotFound;
    auto value = platform::RegistryGetValue(*key, name);
    if (!value)
        return store_result::kNotFound;
    switch (value->type) {
    case platform::RegistryValueType::Text:
        text = value->text;
        break;
    case platform::RegistryValueType::Number:
        text = std::to_string(value->number);
        break;
    case platform::RegistryValueType::Binary:
        text.assign(value->data.begin(), value->data.end());
        break;
    }
    return store_result::kOk;
}

int RegistryValue::DeleteValue(const std::string &name) {
    auto key = OpenStoreKey(m_keyPath);
    if (!key || !platform::RegistryDeleteValue(*key, name))
        return store_result::kNotFound;
    return store_result::kOk;
}

std::vector<std::pair<std::string, std::string>> RegistryValue::Values() const {
    std::vector<std::pair<std::string, std::string>> values;
    auto key = OpenStoreKey(m_keyPath);
    if (!key)
        return values;
    for (const std::string &name : platform::RegistryListValues(*key)) {
        std::string text;
        if (GetString(name, text) == store_result::kOk)
            values.emplace_back(name, std::move(text));
    }
    return values;
}

bool ParseStoredInt(const std::string &text, int32_t &value) {
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || number < INT32_MIN ||
        number > static_cast<long long>(UINT32_MAX))
        return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(number));
    return true;
}

void ReadBackPrerequisiteResults(const RegistryValue &store, SetupSettings &settings) {
    for (const auto &[name, text] : store.Values()) {
        int32_t number = 0;
        if (ParseStoredInt(text, number))
            SetPrerequisiteResult(settings, name, number);
    }
}

std::unique_ptr<RegistryValue> MakeInterbootContext(SetupSettings &settings) {
    return std::make_unique<RegistryValue>(
        kInterbootContextKey,
        [](RegistryValue &store, SetupSettings *userData) {
            if (userData)
                ReadBackPrerequisiteResults(store, *userData);
        },
        &settings);
}

} // namespace krv::setup
