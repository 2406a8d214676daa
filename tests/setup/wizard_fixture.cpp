#include "wizard_fixture.h"

#include "prerequisite_model.h"
#include "toolkit_language.h"
#include "url_opener.h"

#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace krv::setup::test {

bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void FakeDownloads::Script(const std::string &url, std::vector<FakeTransfer> transfers) {
    std::lock_guard guard(m_lock);
    m_script[url] = std::deque<FakeTransfer>(transfers.begin(), transfers.end());
}

FakeTransfer FakeDownloads::Next(const std::string &url) {
    std::lock_guard guard(m_lock);
    auto &queue = m_script[url];
    if (queue.empty())
        return {};
    FakeTransfer transfer = queue.front();
    if (queue.size() > 1)
        queue.pop_front();
    return transfer;
}

void FakeDownloads::Started(const std::string &url) {
    std::lock_guard guard(m_lock);
    m_started.push_back(url);
}

std::vector<std::string> FakeDownloads::StartedUrls() const {
    std::lock_guard guard(m_lock);
    return m_started;
}

namespace {

class FakeDownloader : public PageDownloader {
  public:
    FakeDownloader(FakeDownloads &script, ProgressSink *sink) : m_script(script), m_sink(sink) {}
    ~FakeDownloader() override {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    uint32_t Start(const std::string &url, const std::string &target) override {
        if (m_thread.joinable())
            m_thread.join();
        m_script.Started(url);
        FakeTransfer transfer = m_script.Next(url);
        m_running = true;
        m_thread = std::thread([this, transfer, target] {
            m_result = Run(transfer, target);
            m_running = false;
        });
        return 0;
    }
    bool IsRunning() const override { return m_running; }
    uint32_t Wait() override {
        if (m_thread.joinable())
            m_thread.join();
        return m_result;
    }
    uint32_t GetErrorCode() const override { return m_result; }

  private:
    bool Cancelled() { return m_stop || m_sink->IsCancelled(); }
    uint32_t Run(const FakeTransfer &transfer, const std::string &target) {
        constexpr uint32_t kCancelled = 0xE0000008u;
        m_sink->BeginItem(transfer.announced, target);
        m_sink->Advance(0);
        uint64_t total = 0;
        for (std::size_t i = 0; i < transfer.chunks.size(); ++i) {
            if (transfer.holdAfter >= 0 && static_cast<int>(i) == transfer.holdAfter)
                while (m_script.Releases() < transfer.gate && !Cancelled())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            while (m_sink->IsPaused() && !Cancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (Cancelled())
                return kCancelled;
            m_sink->Advance(transfer.chunks[i]);
            total += transfer.chunks[i];
        }
        if (transfer.error != 0) {
            m_sink->OnError({}, transfer.error);
            return transfer.error;
        }
        std::filesystem::create_directories(std::filesystem::path(target).parent_path());
        std::ofstream(target, std::ios::binary) << std::string(total, 'x');
        m_sink->EndItem(1);
        return 0;
    }

    FakeDownloads &m_script;
    ProgressSink *m_sink;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    uint32_t m_result = 0;
};

} // namespace

PageDownloaderFactory FakeDownloads::Factory() {
    return [this](ProgressSink *sink) { return std::make_unique<FakeDownloader>(*this, sink); };
}

PrerequisiteRecord MakeRecord(std::string name, int32_t sourceKind, std::string source,
                              std::string options, std::string parent) {
    PrerequisiteRecord record;
    record.name = std::move(name);
    record.sourceKind = sourceKind;
    record.source = std::move(source);
    record.options = std::move(options);
    record.parentPrereq = std::move(parent);
    return record;
}

WizardFixture::WizardFixture() {
    m_env.Set("KRV_SETUP_ROOT", m_root);
    m_env.Unset("KRV_REGISTRY_ROOT");
    system.messages = messages;
    system.probe.runSearches = [this](PrerequisiteRecord &record) {
        std::lock_guard guard(m_lock);
        return installed.count(record.name) > 0;
    };
    system.launchPause = [](std::chrono::milliseconds) {};
    system.reboot = [this](const std::string &reason) {
        std::lock_guard guard(m_lock);
        reboots.push_back(reason);
        return rebootOutcome;
    };
    system.programs = [this](const platform::ProcessStartInfo &info, bool) {
        std::lock_guard guard(m_lock);
        launched.push_back(info.commandLine);
        platform::ProcessResult result;
        for (const std::string &file : setupsThatDoNotStart)
            if (info.commandLine.find(file) != std::string::npos) {
                result.startError = ENOENT;
                return result;
            }
        result.started = true;
        result.waited = true;
        for (const auto &[file, name] : setupInstalls)
            if (info.commandLine.find(file) != std::string::npos)
                installed.insert(name);
        return result;
    };
}

WizardFixture::~WizardFixture() {
    m_sheet.reset();
    m_installer.reset();
}

void WizardFixture::Build(std::vector<PrerequisiteRecord> records, const std::string &flags,
                          bool prereqsGiven) {
    m_settings.general.downloadFolder = m_root + "/dl";
    m_settings.general.flagLetters = flags;
    m_settings.prerequisites = std::move(records);
    for (PrerequisiteRecord &record : m_settings.prerequisites)
        PreparePrerequisiteRecord(record);
    m_settings.prereqsGiven = prereqsGiven;
    DetectPrerequisites(m_settings, system.probe);
    m_installer = std::make_unique<PrerequisiteInstaller>(
        [this](const std::string &list) { publishedSelection = list; }, m_settings, nullptr,
        package, &m_ui, system);
    WizardEnvironment environment;
    environment.caption = "Установка Telmar 2.3";
    environment.productName = "Telmar 2.3";
    environment.windows = &windows;
    environment.messages = messages;
    if (!realDownloads)
        environment.downloaderFactory = downloads.Factory();
    environment.timers = false;
    m_sheet = std::make_unique<WizardSheet>(m_settings, *m_installer, std::move(environment));
    m_sheet->Start();
}

std::vector<std::string> WizardFixture::Boxes() const {
    std::vector<std::string> texts;
    for (const MessageBoxRequest &request : boxes->Shown())
        texts.push_back(request.text);
    return texts;
}

} // namespace krv::setup::test

// The wizard tests' entry: one application for the run.
int main(int argc, char **argv) {
    // Headless unless a platform was named (screenshots under an X server).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The toolkit's texts follow the interface language, as in the program.
    krv::setup::FollowUiLanguageInToolkit();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
