// A stop from outside while the wizard downloads: the page must end, or the
// run waits for ever for a download that was cancelled.
#include "download_page.h"
#include "local_servers.h"
#include "support_offscreen.h"
#include "wizard_fixture.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/wait.h>

namespace krv::setup {
namespace {

using test::WaitUntil;

// In a child process: a stop stays for the rest of the process. The signals
// are taken over as the program does, without the run's stop action, so that
// only the page can end the wizard.
TEST(WizardStop, StopOnTheDownloadPageEndsTheWizardAndDropsThePartFile) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    std::string part;
    const int status = test::StatusOfChild([&] {
        test::OffscreenApplication app("wizard-stop");
        platform::ForwardTerminationSignals();
        test::WizardFixture wizard;
        wizard.realDownloads = true;
        PrerequisiteRecord slow = test::MakeRecord(
            "Beta", source_kind::kUrl, server.Url("/gen/4000000?throttle=50&chunk=4096"));
        slow.folder = "?beta.sh";
        wizard.Build({slow}, "h");
        wizard.Sheet().show();
        wizard.Press(wizard_button::kNext);
        if (wizard.Sheet().CurrentPageId() != wizard_page::kDownload)
            return 2;
        auto *page = static_cast<DownloadPage *>(wizard.Sheet().Page(wizard_page::kDownload));
        if (!WaitUntil([&] { return page->CurrentBytes() > 0; }))
            return 3;
        ::raise(SIGTERM);
        if (!WaitUntil([&] { return !wizard.Sheet().isVisible(); }, std::chrono::seconds(5)))
            return 4;
        const bool partLeft = std::filesystem::exists(wizard.Root() + "/dl/beta.sh.part");
        return wizard.Sheet().CancelFlag() && !partLeft ? 0 : 5;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
} // namespace krv::setup
