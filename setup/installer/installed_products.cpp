#include "installed_products.h"

#include "command_line_text.h"

#include <setup_registry.h>

#include <algorithm>
#include <array>
#include <utility>

namespace krv::setup {

namespace {

using platform::RegistryHive;
using platform::RegistryValue;

constexpr std::string_view kMarker = "Installed";

std::string ProductKeyPath(std::string_view productCode) {
    return std::string(kInstalledProductsKey) + "\\" + std::string(productCode);
}

std::array<std::pair<std::string_view, std::string InstalledProduct::*>, 10> Fields() {
    return {{{"ProductName", &InstalledProduct::productName},
             {"VersionString", &InstalledProduct::versionString},
             {"PackageCode", &InstalledProduct::packageCode},
             {"UpgradeCode", &InstalledProduct::upgradeCode},
             {"InstalledLanguage", &InstalledProduct::installedLanguage},
             {"InstallLocation", &InstalledProduct::installLocation},
             {"InstanceName", &InstalledProduct::instanceName},
             {"InstallerVersion", &InstalledProduct::installerVersion},
             {"Files", &InstalledProduct::files},
             {"CreatedFolders", &InstalledProduct::createdFolders}}};
}

std::optional<platform::RegistryKey> InstalledKey(std::string_view productCode) {
    if (!UsableProductCode(productCode))
        return std::nullopt;
    auto key = platform::RegistryOpenKey(RegistryHive::LocalMachine, ProductKeyPath(productCode));
    if (!key)
        return std::nullopt;
    const auto marker = platform::RegistryGetValue(*key, kMarker);
    if (!marker || marker->type != platform::RegistryValueType::Number || marker->number != 1)
        return std::nullopt;
    return key;
}

std::string TextValue(const platform::RegistryKey &key, std::string_view name) {
    const auto value = platform::RegistryGetValue(key, name);
    return value && value->type == platform::RegistryValueType::Text ? value->text : std::string();
}

// The staged record's name beside the one readers see.
constexpr std::string_view kStage = "staged";

platform::RegistryValueList RecordValues(const InstalledProduct &product) {
    platform::RegistryValueList values;
    for (const auto &[name, field] : Fields())
        values.emplace_back(std::string(name), RegistryValue::MakeText(product.*field));
    values.emplace_back(std::string(kMarker), RegistryValue::MakeNumber(1));
    return values;
}

} // namespace

bool StageProductRecord(const InstalledProduct &product, std::string &error) {
    if (!UsableProductCode(product.productCode)) {
        error = "the product code cannot name a record: " + product.productCode;
        return false;
    }
    const platform::RegistryKey key{RegistryHive::LocalMachine,
                                    ProductKeyPath(product.productCode)};
    if (!platform::RegistryStageValues(key, kStage, RecordValues(product))) {
        error = platform::RegistryLastError();
        return false;
    }
    return true;
}

bool UsableProductCode(std::string_view code) {
    return !code.empty() && code.find_first_of("\\/") == std::string_view::npos && code != "." &&
           code != "..";
}

bool ApplyStagedProductRecord(std::string_view productCode, std::string &error,
                              std::string *setAside) {
    if (!UsableProductCode(productCode))
        return false;
    const platform::RegistryKey key{RegistryHive::LocalMachine, ProductKeyPath(productCode)};
    if (!platform::RegistryApplyStagedValues(key, kStage, setAside)) {
        error = platform::RegistryLastError();
        return false;
    }
    return true;
}

void DropStagedProductRecord(std::string_view productCode) {
    if (!UsableProductCode(productCode))
        return;
    const platform::RegistryKey key{RegistryHive::LocalMachine, ProductKeyPath(productCode)};
    platform::RegistryDropStagedValues(key, kStage);
    // A first install made the key for its record: without a record it goes.
    if (!InstalledKey(productCode) && platform::RegistryListValues(key).empty() &&
        platform::RegistryLastError().empty())
        platform::RegistryDeleteKey(RegistryHive::LocalMachine, ProductKeyPath(productCode));
}

bool ProductRecordFits(const InstalledProduct &product) {
    return platform::RegistryValuesFit(RecordValues(product));
}

std::optional<std::string> SetAsideDamagedRecord(std::string_view productCode, std::string &why,
                                                 InstalledProduct &readable) {
    why.clear();
    if (!UsableProductCode(productCode))
        return std::nullopt;
    const auto key =
        platform::RegistryOpenKey(RegistryHive::LocalMachine, ProductKeyPath(productCode));
    if (!key)
        return std::nullopt;
    // What can still be read of it names the old install's files.
    readable.productCode = std::string(productCode);
    for (const auto &[name, field] : Fields())
        readable.*field = TextValue(*key, name);
    auto aside = platform::RegistrySetAsideDamagedValues(*key, why);
    if (!aside)
        why = platform::RegistryLastError();
    return aside;
}

bool RemoveProductRecord(std::string_view productCode, std::string &error, std::string &setAside) {
    InstalledProduct readable;
    std::string why;
    if (const auto aside = SetAsideDamagedRecord(productCode, why, readable)) {
        setAside = *aside + " (" + why + ")";
    } else if (!why.empty()) {
        error = why;
        return false;
    }
    // A key whose damaged values went aside has no record left, only the
    // key to take away.
    if (!InstalledKey(productCode) && setAside.empty())
        return true;
    if (!platform::RegistryDeleteKey(RegistryHive::LocalMachine, ProductKeyPath(productCode))) {
        error = platform::RegistryLastError().empty() ? "the key cannot be removed"
                                                      : platform::RegistryLastError();
        return false;
    }
    return true;
}

std::vector<std::string> RecordedInstallLocations() {
    std::vector<std::string> out;
    const auto products =
        platform::RegistryOpenKey(RegistryHive::LocalMachine, kInstalledProductsKey);
    if (!products)
        return out;
    for (const std::string &code : platform::RegistryListSubkeys(*products)) {
        const platform::RegistryKey key{RegistryHive::LocalMachine, ProductKeyPath(code)};
        for (const auto &value : {platform::RegistryGetValue(key, "InstallLocation"),
                                  platform::RegistryGetStagedValue(key, kStage, "InstallLocation")})
            if (value && value->type == platform::RegistryValueType::Text && !value->text.empty())
                out.push_back(value->text);
    }
    return out;
}

bool RegisterProduct(const InstalledProduct &product) {
    std::string error;
    return StageProductRecord(product, error) &&
           ApplyStagedProductRecord(product.productCode, error);
}

bool UnregisterProduct(std::string_view productCode) {
    if (!InstalledKey(productCode))
        return false;
    return platform::RegistryDeleteKey(RegistryHive::LocalMachine, ProductKeyPath(productCode));
}

std::optional<InstalledProduct> FindInstalledProduct(std::string_view productCode) {
    const auto key = InstalledKey(productCode);
    if (!key)
        return std::nullopt;
    InstalledProduct product;
    product.productCode = std::string(productCode);
    for (const auto &[name, field] : Fields())
        product.*field = TextValue(*key, name);
    return product;
}

std::optional<std::string> ProductInfo(std::string_view productCode, std::string_view property) {
    const auto key = InstalledKey(productCode);
    if (!key)
        return std::nullopt;
    for (const auto &[name, field] : Fields())
        if (name == property)
            return TextValue(*key, name);
    return std::nullopt;
}

int ProductState(std::string_view productCode) {
    return InstalledKey(productCode) ? install_state::kDefault : install_state::kUnknown;
}

std::optional<std::string> RelatedProduct(std::string_view upgradeCode, int index) {
    if (upgradeCode.empty() || index < 0)
        return std::nullopt;
    const auto products =
        platform::RegistryOpenKey(RegistryHive::LocalMachine, kInstalledProductsKey);
    if (!products)
        return std::nullopt;
    std::vector<std::string> codes = platform::RegistryListSubkeys(*products);
    std::sort(codes.begin(), codes.end());
    int found = 0;
    for (const std::string &code : codes) {
        const auto key = InstalledKey(code);
        if (!key || !EqualsIgnoreCase(TextValue(*key, "UpgradeCode"), upgradeCode))
            continue;
        if (found++ == index)
            return code;
    }
    return std::nullopt;
}

} // namespace krv::setup
