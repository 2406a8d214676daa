// Packages that can be installed as several product instances: the list the
// settings declare (STARTUP and INSTANCES), which of them are installed, the
// user's choice and the installer arguments that carry it.
#pragma once

#include "ini.h"
#include "settings.h"

#include <string>
#include <vector>

namespace krv::setup {

namespace instance_mode {
inline constexpr int kNew = 0;
inline constexpr int kMaintain = 1;
inline constexpr int kUpgrade = 2;
} // namespace instance_mode

struct InstalledInstances {
    bool someInstalled = false;
    bool upgradeOffered = false; // the start-up product is missing, an older instance is not
    int mode = instance_mode::kNew;
    int chosen = -1;            // index into records, -1 for none
    bool switchesGiven = false; // the text to pass already names the instance
    std::vector<ProductInstanceRecord> records;
};

// Notes instance switches in the text to pass: MSINEWINSTANCE=1, /i or /n as
// whole switches outside quotes (so "/norestart" or a URL holding "/i" do
// not count). Each "/i" selects maintenance and is removed from the text.
void ParseInstanceSwitches(std::string &text, InstalledInstances &instances);
// The start-up product, then inst1, inst2 ... until one is missing; nothing
// when switches were given or there is no STARTUP section.
void LoadInstanceList(InstalledInstances &instances, const IniDocument &document);
// Reads from the installed-products store which records are installed and
// older than the start-up product; true when any is installed.
bool FindInstalledInstances(InstalledInstances &instances);
// index -1: a new instance.
void SelectInstance(int index, InstalledInstances &instances, int mode);
// The mode (2 when an older installed record is upgraded) and the arguments.
struct InstanceArguments {
    int mode = instance_mode::kNew;
    std::string text;
};
InstanceArguments BuildInstanceArguments(InstalledInstances &instances);

// What the instance dialog offers.
bool NewInstancePossible(const InstalledInstances &instances);
struct InstanceRow {
    int record = -1;
    std::vector<std::string> cells;
};
// New-instance mode: every record not installed (the first as "Default");
// maintenance mode: every installed record with name, version and location.
std::vector<InstanceRow> InstanceDialogRows(const InstalledInstances &instances, bool newMode);

// What OK with the given row does in the given mode; false without a row.
bool AcceptInstanceRow(InstalledInstances &instances, bool newMode, int row);

} // namespace krv::setup
