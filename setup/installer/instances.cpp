#include "instances.h"

#include "command_line_text.h"
#include "installed_products.h"
#include "log.h"
#include "ui_strings.h"

namespace krv::setup {

namespace {

struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Blank-separated tokens outside double quotes.
std::vector<Token> Tokens(std::string_view text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size())
            break;
        Token token{i, i};
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            if (text[i] == '"')
                quoted = !quoted;
            ++i;
        }
        token.end = i;
        tokens.push_back(token);
    }
    return tokens;
}

bool IsOlder(const ProductInstanceRecord &record, const VersionQuad &startup) {
    return CompareVersions(record.installedVersion, startup) < 0;
}

} // namespace

void ParseInstanceSwitches(std::string &text, InstalledInstances &instances) {
    bool selectsInstance = false;
    std::string kept;
    for (const Token &token : Tokens(text)) {
        const std::string_view word =
            std::string_view(text).substr(token.begin, token.end - token.begin);
        if (word == "MSINEWINSTANCE=1" || EqualsIgnoreCase(word, "/n"))
            instances.switchesGiven = true;
        if (EqualsIgnoreCase(word, "/i")) {
            instances.switchesGiven = true;
            selectsInstance = true;
            continue;
        }
        if (!kept.empty())
            kept += ' ';
        kept += word;
    }
    if (selectsInstance) {
        instances.mode = instance_mode::kMaintain;
        text = kept;
    }
}

void LoadInstanceList(InstalledInstances &instances, const IniDocument &document) {
    if (instances.switchesGiven)
        return;
    ProductInstanceRecord startup;
    if (!LoadStartup(startup, document))
        return;
    instances.records.push_back(startup);
    for (int n = 1;; ++n) {
        ProductInstanceRecord record;
        if (!LoadInstances(document, n, record))
            break;
        instances.records.push_back(record);
    }
}

bool FindInstalledInstances(InstalledInstances &instances) {
    if (instances.switchesGiven || instances.records.empty())
        return false;
    ProductInstanceRecord &first = instances.records.front();
    for (int index = 0;; ++index) {
        const auto related = RelatedProduct(first.upgradeCode, index);
        if (!related)
            break;
        bool known = false;
        for (const ProductInstanceRecord &record : instances.records)
            known = known || EqualsIgnoreCase(record.productCode, *related);
        if (!known) {
            first.relatedProductCode = *related;
            first.installed = true;
            break;
        }
    }
    int older = 0;
    for (ProductInstanceRecord &record : instances.records) {
        const auto name = ProductInfo(record.productCode, "ProductName");
        if (!name)
            continue;
        record.installed = true;
        record.productName = *name;
        record.installLocation = ProductInfo(record.productCode, "InstallLocation").value_or("");
        ParseVersion(ProductInfo(record.productCode, "VersionString").value_or(""),
                     record.installedVersion);
        if (IsOlder(record, first.productVersion)) {
            record.older = true;
            ++older;
        }
        LogLine("Instance found installed:" + record.instanceName + " # " +
                FormatVersion(record.installedVersion) + " # " + record.installLocation);
    }
    for (const ProductInstanceRecord &record : instances.records)
        instances.someInstalled = instances.someInstalled || record.installed;
    instances.upgradeOffered = !first.installed && older > 0;
    return instances.someInstalled;
}

void SelectInstance(int index, InstalledInstances &instances, int mode) {
    if (index < 0 || index >= int(instances.records.size())) {
        LogLine("User selected a new instance");
        index = -1;
    } else {
        LogLine("User selected to maintain an installed instance:" +
                instances.records[std::size_t(index)].instanceName);
    }
    instances.mode = mode;
    instances.chosen = index;
}

InstanceArguments BuildInstanceArguments(InstalledInstances &instances) {
    InstanceArguments out;
    out.mode = instances.mode;
    if (instances.switchesGiven)
        return out;
    const ProductInstanceRecord *chosen =
        instances.chosen >= 0 && instances.chosen < int(instances.records.size())
            ? &instances.records[std::size_t(instances.chosen)]
            : nullptr;
    if (!chosen)
        return out;
    const bool isFirst = instances.chosen == 0;
    if (instances.mode == instance_mode::kNew) {
        if (!chosen->instanceName.empty())
            out.text = " TRANSFORMS=:" + chosen->instanceName + ".mst MSINEWINSTANCE=1 ";
    } else if (instances.mode == instance_mode::kMaintain) {
        if (chosen->older) {
            out.mode = instance_mode::kUpgrade;
            out.text = isFirst ? " PX_INTANCE_LOCATION=\"" + chosen->installLocation + "\" "
                               : " /n " + chosen->productCode + " ";
            out.text += " REINSTALL=ALL REINSTALLMODE=vomus ";
        } else if (!isFirst) {
            out.text = " /n " + chosen->productCode + " ";
        }
    }
    instances.mode = out.mode;
    return out;
}

bool NewInstancePossible(const InstalledInstances &instances) {
    bool someMissing = false;
    for (const ProductInstanceRecord &record : instances.records)
        someMissing = someMissing || !record.installed;
    return instances.someInstalled && someMissing && !instances.upgradeOffered;
}

std::vector<InstanceRow> InstanceDialogRows(const InstalledInstances &instances, bool newMode) {
    std::vector<InstanceRow> rows;
    for (std::size_t i = 0; i < instances.records.size(); ++i) {
        const ProductInstanceRecord &record = instances.records[i];
        if (newMode && !record.installed)
            rows.push_back(
                {int(i), {i == 0 ? LoadUiString(ui_text::kDefaultInstance) : record.instanceName}});
        else if (!newMode && record.installed)
            rows.push_back({int(i),
                            {record.productName, FormatVersion(record.installedVersion),
                             record.installLocation}});
    }
    return rows;
}

bool AcceptInstanceRow(InstalledInstances &instances, bool newMode, int row) {
    const std::vector<InstanceRow> rows = InstanceDialogRows(instances, newMode);
    if (row < 0 || row >= int(rows.size()))
        return false;
    SelectInstance(rows[std::size_t(row)].record, instances,
                   newMode ? instance_mode::kNew : instance_mode::kMaintain);
    return true;
}

} // namespace krv::setup
