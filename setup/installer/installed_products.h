// The installed-products store of our installer, kept in the registry store
// (platform/setup_registry.h) under
//   HKLM\Software\Krv\Installer\Products\<ProductCode>
// with the values ProductName, VersionString, PackageCode, UpgradeCode,
// InstalledLanguage, InstallLocation, InstanceName, InstallerVersion, Files
// (the installed files, for removal), CreatedFolders (the folders at and
// above the install location that the product's first install made, for
// removal; older records lack it) and the marker "Installed" (1): a
// record without the marker is not an installed product. A record is
// written and removed as a whole, never value by value.
// The queries answer as the Windows Installer's product queries do.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // The folders at and above the location that the first install made,
    // outermost first, one a line: a removal takes them away when empty.
    std::string createdFolders;
};

// A product code names one key of the store: not empty, no separators.
bool UsableProductCode(std::string_view code);

// Writes the record whole and puts it in place in one step. False when the
// store cannot be written.
bool RegisterProduct(const InstalledProduct &product);
// Removes the record in one step. False when the product was not
// registered or the store cannot be written.
bool UnregisterProduct(std::string_view productCode);

// A record that changes together with the product's files: the new record
// is written whole beside the one readers see (StageProductRecord) and put
// in its place by one rename (ApplyStagedProductRecord) once the files are
// in place; until then the old record stands. False with the reason in
// `error` when it cannot be written or would be past what the store reads
// back.
bool StageProductRecord(const InstalledProduct &product, std::string &error);
// True when the staged record is in place, also when nothing is staged.
// With `setAside` (once the files are the new ones, the staged record is
// the one that tells them), a damaged record in its way is set aside first
// (see SetAsideDamagedRecord), its new path and what was wrong in
// *setAside; without, a damaged record stays and the call fails.
bool ApplyStagedProductRecord(std::string_view productCode, std::string &error,
                              std::string *setAside = nullptr);
// Removes the product's record, setting a damaged one aside first (its new
// path and what was wrong in `setAside`); true also when there is none.
// False, with the reason in `error`, when the record could not be read or
// the store not changed.
bool RemoveProductRecord(std::string_view productCode, std::string &error, std::string &setAside);
// The install folders the store's records name, those in place and those
// staged beside them, complete or not: where a change may have left work.
std::vector<std::string> RecordedInstallLocations();
// Drops a staged record, and the product's key when no record stands in it.
void DropStagedProductRecord(std::string_view productCode);
// Whether the record can be written and read back by the store.
bool ProductRecordFits(const InstalledProduct &product);
// A record of the product that the store cannot read (garbage, past its
// size limit) is moved aside under another name, so that the product reads
// as not installed: the new path, with what was wrong in `why` and in
// `readable` the values that could still be read of it. Nothing, with `why`
// empty, when there is no damaged record; nothing, with `why` saying so,
// when the record could not be read (it may be whole: an I/O error, no
// permission) or cannot be moved aside: it then stays as it is.
std::optional<std::string> SetAsideDamagedRecord(std::string_view productCode, std::string &why,
                                                 InstalledProduct &readable);

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
