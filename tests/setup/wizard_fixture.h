// What the wizard tests share: a wizard run over a made-up package (the
// records, the manager, the sheet), a scripted download engine, and the
// stand-ins for message boxes, the browser, started setups and restarts;
// and their entry (wizard_fixture.cpp), with the program's application set-up.
#pragma once

#include "launch_list.h"
#include "messages.h"
#include "prerequisite_installer.h"
#include "settings.h"
#include "setup_ui.h"
#include "support_env.h"
#include "support_windows.h"
#include "wizard_sheet.h"

#include <setup_process.h>
#include <setup_reboot.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace krv::setup::test {

// Processes events until the condition holds; false when it did not within
// the limit.
bool WaitUntil(const std::function<bool()> &condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// One scripted transfer: what the server announces, the chunks that arrive
// (Advance(0) comes first, as from the engine), then the error or the file.
struct FakeTransfer {
    uint64_t announced = 0;
    std::vector<uint64_t> chunks;
    uint32_t error = 0;
    // The transfer waits after this many chunks until released (-1: never).
    int holdAfter = -1;
    // ... until Release was called this many times.
    int gate = 1;
};

// The transfers per URL; each start takes the next one (the last repeats).
class FakeDownloads {
  public:
    void Script(const std::string &url, std::vector<FakeTransfer> transfers);
    FakeTransfer Next(const std::string &url);
    void Started(const std::string &url);
    std::vector<std::string> StartedUrls() const;
    void Release() { ++m_releases; }
    int Releases() const { return m_releases; }
    PageDownloaderFactory Factory();

  private:
    mutable std::mutex m_lock;
    std::map<std::string, std::deque<FakeTransfer>> m_script;
    std::vector<std::string> m_started;
    std::atomic<int> m_releases{0};
};

PrerequisiteRecord MakeRecord(std::string name, int32_t sourceKind, std::string source,
                              std::string options = {}, std::string parent = {});

class WizardFixture {
  public:
    WizardFixture();
    ~WizardFixture();

    // Detects the records, builds the manager and the sheet, starts it.
    void Build(std::vector<PrerequisiteRecord> records, const std::string &flags = {},
               bool prereqsGiven = false);
    WizardSheet &Sheet() { return *m_sheet; }
    PrerequisiteInstaller &Installer() { return *m_installer; }
    SetupSettings &Settings() { return m_settings; }
    void Press(int button) { m_sheet->PressButton(button); }
    bool Enabled(int button) const { return m_sheet->IsControlEnabled(button); }
    // The texts of the boxes shown so far.
    std::vector<std::string> Boxes() const;

    const std::string &Root() const { return m_root; }
    FakeDownloads downloads;
    // Names the searches find (installing adds to it).
    std::set<std::string> installed;
    // Setups started (their command lines) and what they do: the name of
    // the record a setup installs (empty: nothing), or a start failure.
    std::vector<std::string> launched;
    std::map<std::string, std::string> setupInstalls; // file name -> record
    std::set<std::string> setupsThatDoNotStart;       // file names
    ScriptedWindows windows;                          // records the addresses given to the browser
    // Finds the names in `installed`; the pause after a setup is skipped.
    PrerequisiteServices system;
    std::vector<std::string> reboots;
    platform::RebootOutcome rebootOutcome = platform::RebootOutcome::kFailed;
    std::shared_ptr<ScriptedMessageBoxes> boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupMessages messages{boxes}; // what the installer and the pages report through
    // Uses the real download engine in place of the script.
    bool realDownloads = false;
    std::string publishedSelection;
    // The package's setup files (none by default).
    PrerequisitePackage *package = nullptr;

  private:
    TempDir m_tmp{"wizard"};
    std::string m_root = m_tmp.path();
    ScopedEnv m_env;
    std::mutex m_lock;
    SetupSettings m_settings;
    SetupUi m_ui{&windows, messages};
    std::unique_ptr<PrerequisiteInstaller> m_installer;
    std::unique_ptr<WizardSheet> m_sheet;
};

} // namespace krv::setup::test
