// The wizard's pages as a person sees them: rows that keep their gap, the
// toolkit's buttons in the interface's language, a download whose server
// never answers, and pictures of every page to look at.
#include "download_codes.h"
#include "download_page.h"
#include "install_page.h"
#include "local_servers.h"
#include "system.h"
#include "ui_strings.h"
#include "wizard_fixture.h"
#include "wizard_text_pages.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace krv::setup {
namespace {

using test::MakeRecord;
using test::WaitUntil;
using test::WizardFixture;

constexpr int kNext = wizard_button::kNext;

template <typename Page> Page *PageOf(WizardFixture &wizard, int id) {
    return static_cast<Page *>(wizard.Sheet().Page(id));
}

std::string Column(QTreeWidget *list, int row, int column) {
    QTreeWidgetItem *item = list->topLevelItem(row);
    return item ? item->text(column).toStdString() : std::string("<no row>");
}

// The pixels between each two neighbouring rows of the page's body (the
// last layout of the page, under its header): a stretch between two rows
// is no gap, a hidden row no row.
std::vector<int> BodyGaps(WizardPage &page) {
    std::vector<int> gaps;
    QLayout *outer = page.layout();
    QLayout *body =
        outer && outer->count() > 0 ? outer->itemAt(outer->count() - 1)->layout() : nullptr;
    if (!body)
        return {-1};
    QRect previous; // null: no row above, or a stretch
    for (int i = 0; i < body->count(); ++i) {
        QLayoutItem *item = body->itemAt(i);
        if (item->spacerItem()) {
            previous = QRect();
            continue;
        }
        if (item->widget() && item->widget()->isHidden())
            continue;
        const QRect rect = item->geometry();
        if (!previous.isNull())
            gaps.push_back(rect.top() - previous.bottom() - 1);
        previous = rect;
    }
    return gaps;
}

// In a Russian run and in an English one: the rows of every page keep the
// wizard's gap, and the sheet's buttons are the toolkit's wizard buttons in
// the run's language (the hints name "Далее" and "Завершить"), none of them
// filled by its text edge to edge.
TEST(WizardPages, RowsKeepTheWizardsGapAndButtonsSpeakTheRunsLanguage) {
    const struct {
        std::shared_ptr<const ResourceModule> module;
        QStringList buttons;
    } runs[] = {
        {nullptr, {"< Назад", "Далее >", "Завершить", "Отмена"}},
        {EnglishResourceModule(), {"< Back", "Next >", "Finish", "Cancel"}},
    };
    for (const auto &run : runs) {
        SetResourceModule(run.module);
        WizardFixture wizard;
        wizard.downloads.Script("http://files.example/fonts.bin", {{0, {10}}});
        PrerequisiteRecord fonts =
            MakeRecord("Receipt fonts", source_kind::kUrl, "http://files.example/fonts.bin");
        fonts.exactSize = 10;
        wizard.Build(
            {fonts, MakeRecord("PDF viewer", source_kind::kOpenSite, "http://viewer.example/")},
            "e");
        WizardSheet &sheet = wizard.Sheet();
        QStringList buttons;
        for (QPushButton *button : sheet.findChildren<QPushButton *>())
            if (button->parent() == &sheet)
                buttons << button->text().remove(QLatin1Char('&'));
        EXPECT_EQ(buttons, run.buttons);
        sheet.show();
        QApplication::processEvents();
        // Each leaves two average characters of room either side of its text.
        for (QPushButton *button : sheet.findChildren<QPushButton *>())
            if (button->parent() == &sheet) {
                const QFontMetrics metrics = button->fontMetrics();
                EXPECT_GE(button->width(),
                          metrics.horizontalAdvance(button->text().remove(QLatin1Char('&'))) +
                              4 * metrics.averageCharWidth())
                    << button->text().toStdString();
            }
        ASSERT_EQ(sheet.Pages().size(), 6u);
        std::size_t rowsLookedAt = 0;
        for (WizardPage *page : sheet.Pages()) {
            sheet.SetCurrentPage(page->Id());
            QApplication::processEvents();
            const std::vector<int> gaps = BodyGaps(*page);
            rowsLookedAt += gaps.size();
            for (std::size_t i = 0; i < gaps.size(); ++i)
                EXPECT_EQ(gaps[i], kWizardControlGap) << "page " << page->Id() << ", row " << i;
        }
        EXPECT_GE(rowsLookedAt, 10u);
    }
    SetResourceModule(nullptr);
}

// A file of unknown size from a server that takes the connection and never
// answers, after a file that downloaded well: until the transfer ends the
// row and the current-file text show the bytes so far, never "completed"
// (neither its own nor the row before it); its failure leaves no
// "completed" text.
TEST(WizardDownloadPage, AServerThatNeverAnswersIsNeverShownCompleted) {
    WizardFixture wizard;
    const std::string accepted = wizard.Root() + "/accepted", release = wizard.Root() + "/release";
    test::LocalHttpServer files;
    ASSERT_TRUE(files.Start({})) << files.Error();
    test::ServerProcess server;
    ASSERT_TRUE(server.Start("silent_server.py", {accepted, release})) << server.Error();
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/runtime.bin";
    wizard.realDownloads = true;
    wizard.Build({MakeRecord("Fonts", source_kind::kUrl, files.Url("/gen/2048")),
                  MakeRecord("Runtime", source_kind::kUrl, url)},
                 "h");
    wizard.Press(kNext);
    auto *page = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    ASSERT_EQ(wizard.Sheet().CurrentPage(), page);
    auto *current = page->findChild<QLabel *>("1012");
    ASSERT_NE(current, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !test::ReadFile(accepted).empty(); }));
    QApplication::processEvents();
    EXPECT_EQ(page->CurrentRow(), 1);
    EXPECT_EQ(Column(page->List(), 0, 2), "Завершено");
    EXPECT_EQ(Column(page->List(), 1, 2), "0.00 KB");
    EXPECT_EQ(current->text().toStdString(), "Загрузка: Runtime (0.00 KB)");

    test::WriteFile(release, "");
    ASSERT_TRUE(WaitUntil([&] { return page->CycleOver(); }));
    EXPECT_EQ(Column(page->List(), 1, 2),
              "Ошибка: " + GetInternetErrorText(download_code::kInvalidServerResponse));
    EXPECT_EQ(current->text().toStdString(), "Загрузка: Runtime (0.00 KB)");
    EXPECT_EQ(page->Failures(), 1);
    EXPECT_EQ(wizard.Boxes(),
              std::vector<std::string>{"Некоторые программы не удалось загрузить. Попробуйте "
                                       "снова, или исключите их из списка требований."});
}

// Pictures of every page for a person to look at: runs only when
// KRV_WIZARD_SHOTS names a folder (under a real X server).
TEST(WizardScreens, EachPage) {
    const QByteArray folder = qgetenv("KRV_WIZARD_SHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "KRV_WIZARD_SHOTS not set";
    WizardFixture wizard;
    wizard.installed.insert("Visual Runtime 2.0");
    wizard.setupInstalls["fiscal-usb.run"] = "Fiscal USB driver";
    wizard.setupInstalls["receipt-fonts.bin"] = "Receipt fonts";
    PrerequisiteRecord runtime =
        MakeRecord("Visual Runtime 2.0", source_kind::kSetupFile, "runtime.run", "m");
    runtime.verMin = "2.0";
    PrerequisiteRecord driver = MakeRecord("Fiscal USB driver", source_kind::kUrl,
                                           "file://" + wizard.Root() + "/fiscal-usb.run", "m");
    PrerequisiteRecord fonts =
        MakeRecord("Receipt fonts", source_kind::kUrl, "http://files.example/receipt-fonts.bin");
    fonts.exactSize = 4000000;
    PrerequisiteRecord viewer =
        MakeRecord("PDF viewer", source_kind::kOpenSite, "http://viewer.example/download");
    wizard.downloads.Script(fonts.source, {{0, {1250000, 2750000}, 0, 1}});
    wizard.Build({runtime, driver, fonts, viewer}, "e");
    WizardSheet &sheet = wizard.Sheet();
    sheet.resize(640, 480);
    sheet.show();
    auto shoot = [&](const char *name) {
        QApplication::processEvents();
        WaitUntil([] { return false; }, std::chrono::milliseconds(150));
        EXPECT_TRUE(sheet.grab().save(folder + "/wizard-" + name + ".png")) << name;
    };
    shoot("components");
    wizard.Press(kNext);
    PageOf<LicensePage>(wizard, wizard_page::kLicense)->AcceptButton()->setChecked(true);
    shoot("licence");
    wizard.Press(kNext);
    shoot("selection");
    wizard.Press(kNext);
    auto *download = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    WaitUntil([&] { return download->CurrentBytes() == 1250000; });
    download->Tick();
    WaitUntil([] { return false; }, std::chrono::milliseconds(20));
    download->Tick();
    shoot("download");
    wizard.downloads.Release();
    WaitUntil([&] { return download->CycleOver(); });
    wizard.Press(kNext);
    shoot("open-sites");
    PageOf<PrerequisiteInstallPage>(wizard, wizard_page::kInstall)->AutoFinish()->setChecked(false);
    wizard.installed.insert("PDF viewer");
    wizard.Press(kNext);
    auto *install = PageOf<PrerequisiteInstallPage>(wizard, wizard_page::kInstall);
    WaitUntil([&] { return install->RunOver(); });
    shoot("install");
}

} // namespace
} // namespace krv::setup
