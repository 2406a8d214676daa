// The installed-products store of our installer, kept in the registry store
// (platform/setup_registry.h) under
//   HKLM\Software\Krv\Installer\Products\<ProductCode>
// with the values ProductName, VersionString, PackageCode, UpgradeCode,
// InstalledLanguage, InstallLocation, InstanceName, InstallerVersion, Files
// (the installed files, for removal) and,
// written last and removed first, the marker "Installed" (1): a record
// without the marker (a registration cut short) is not an installed product.
// The queries answer as the Windows Installer's product queries do.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace krv::setup {

inline constexpr std::string_view kInstalledProductsKey = "Software\\Krv\\Installer\\Products";

// Product states, numbered as the Windows Installer numbers them.
namespace install_state {
inline constexpr int kUnknown = -1; // not installed, not known
inline constexpr int kDefault = 5;  // installed
} // namespace install_state

struct InstalledProduct {
    std::string productCode;
    std::string productName;
    std::string versionString;
    std::string packageCode;
    std::string upgradeCode;
    std::string installedLanguage; // decimal LANGID
    std::string installLocation;
    std::string instanceName; // empty for the default instance
    std::string installerVersion;
    std::string files; // the installed files below the location, one a line
};

// Writes the record, the marker last. False when the store cannot be written.
bool RegisterProduct(const InstalledProduct &product);
// Removes the marker, then the record. False when the product was not
// registered or the store cannot be written.
bool UnregisterProduct(std::string_view productCode);
// The record of an installed product.
std::optional<InstalledProduct> FindInstalledProduct(std::string_view productCode);

// A property of an installed product ("ProductName", "VersionString",
// "PackageCode", "UpgradeCode", "InstalledLanguage", "InstallLocation",
// "InstanceName", "InstallerVersion"); nothing when the product is not
// installed or the property is unknown.
std::optional<std::string> ProductInfo(std::string_view productCode, std::string_view property);
// install_state::kDefault for an installed product, else kUnknown.
int ProductState(std::string_view productCode);
// The index-th installed product whose upgrade code equals the given one
// (GUID text, any case), in product-code order; nothing past the last.
std::optional<std::string> RelatedProduct(std::string_view upgradeCode, int index);

} // namespace krv::setup
