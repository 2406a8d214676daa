#include "download_page.h"
#include "install_page.h"
#include "language_module.h"
#include "local_servers.h"
#include "open_sites_page.h"
#include "picture_control.h"
#include "prerequisite_model.h"
#include "progress_window.h"
#include "search_engine.h"
#include "selection_page.h"
#include "setup_runner.h"
#include "system.h"
#include "ui_strings.h"
#include "wizard_fixture.h"
#include "wizard_steps.h"
#include "wizard_text_pages.h"
#include "wizard_texts.h"

#include <setup_registry.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <filesystem>

namespace krv::setup {
namespace {

using test::FakeTransfer;
using test::MakeRecord;
using test::WaitUntil;
using test::WizardFixture;

constexpr int kBack = wizard_button::kBack;
constexpr int kNext = wizard_button::kNext;
constexpr int kFinish = wizard_button::kFinish;
constexpr int kCancel = wizard_button::kCancel;

std::string Column(QTreeWidget *list, int row, int column) {
    QTreeWidgetItem *item = list->topLevelItem(row);
    return item ? item->text(column).toStdString() : std::string("<no row>");
}

// Each text of the given columns fits its column: none is cut short.
void ExpectColumnsFitTheirTexts(QTreeWidget *list, std::initializer_list<int> columns) {
    QCoreApplication::processEvents();
    const QFontMetrics metrics = list->fontMetrics();
    for (int column : columns)
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            const QString text = list->topLevelItem(row)->text(column);
            EXPECT_GE(list->columnWidth(column), metrics.horizontalAdvance(text))
                << column << ": " << text.toStdString();
        }
}

template <typename Page> Page *PageOf(WizardFixture &wizard, int id) {
    return static_cast<Page *>(wizard.Sheet().Page(id));
}

// Texts a Russian run once showed in English (hints, the restart question
// and its caption, the failed restart, the caption of a box without one).
void ExpectNotEnglish(const std::string &shown, const std::string &where) {
    static const std::vector<std::string> english = {
        "Click Next to install the required programs.",
        "Click Next to open the web sites of the required programs.",
        "The computer must be restarted",
        "Restart required",
        "The computer could not be restarted",
        "Error",
    };
    for (const std::string &text : english)
        EXPECT_EQ(shown.find(text), std::string::npos) << where << ": " << shown;
}

// What the boxes shown so far say, captions included.
void ExpectBoxesNotEnglish(const WizardFixture &wizard, const std::string &where) {
    for (const MessageBoxRequest &box : wizard.boxes->Shown()) {
        ExpectNotEnglish(box.text, where + " (box)");
        ExpectNotEnglish(box.defaultCaption ? DefaultMessageBoxCaption() : box.caption,
                         where + " (caption)");
    }
}

TEST(WizardTexts, VersionRequirementAndRemainingTime) {
    PrerequisiteRecord record = MakeRecord("Runtime", source_kind::kUrl, "http://h/r.exe");
    record.searches.push_back({1, "HKLM\\Software\\Runtime", "2.0", "", "", ""});
    EXPECT_EQ(PrerequisiteVersionText(record, {"1.5", "1.7"}),
              "Требуется: 2.0 или выше. Найдено: 1.5, 1.7.");
    EXPECT_EQ(PrerequisiteVersionText(record, {}), "Требуется: 2.0 или выше. Найдено: ничего.");
    record.searches.push_back(record.searches.front());
    record.verMax = "3.0";
    record.state = prereq_state::kFound;
    EXPECT_EQ(PrerequisiteVersionText(record, {"9"}),
              "Требуется: 3.0 или ниже. Найдена подходящая версия.");
    record.options = "i";
    EXPECT_EQ(PrerequisiteVersionText(record, {"9"}), " Найдено: ничего.");
    EXPECT_EQ(FormatRequirementText("", ""), "Требуется: любая.");
    EXPECT_EQ(FormatRequirementText("1", "2"), "Требуется: между 1 и 2.");

    struct Case {
        uint64_t speed, size, bytes;
        const char *text;
    };
    const std::vector<Case> cases = {
        {120, 5000120, 120, "1 ч 21 мин при 1.00 KB/с"}, // slow speeds count as 1024
        {1500, 150000, 0, "1 мин 40 с при 1.00 KB/с"},   // shown rounded down to whole KB
        {2048, 100000, 0, "48 с при 2.00 KB/с"},
        {0, 100000, 0, ""},
        {4096, 10, 20, "0 с при 4.00 KB/с"}, // more received than announced
        {589824, 0, 5000, "576.00 KB/с"},    // no size: the rate alone
    };
    for (const Case &c : cases)
        EXPECT_EQ(RemainingTimeText(c.speed, c.size, c.bytes), c.text) << c.speed;

    EXPECT_EQ(ScaledUnknownShare(1, 1048576), 5u);
    EXPECT_EQ(ScaledUnknownShare(1ull << 40, 1ull << 40), kUnknownSizeShare);
    EXPECT_EQ(ScaledUnknownShare(10, 0), 0u);
    const DownloadProgressTexts texts =
        FormatDownloadProgress(250, 1000, 30, 120, "Viewer", TransferState::kRunning);
    EXPECT_EQ(texts.column, "25%");
    EXPECT_EQ(texts.overall.rfind("Выполнение: 25% (", 0), 0u) << texts.overall;
    EXPECT_EQ(FormatDownloadProgress(1536, 0, 5, 5, "x", TransferState::kPaused).column,
              "Приостановлено");
    // Some file's size is not known: the bytes so far, no share of a total.
    EXPECT_EQ(FormatDownloadProgress(1536, 0, 5, 5, "x", TransferState::kRunning).overall,
              "Выполнение: 1.50 KB");
    EXPECT_EQ(Percent(300, 200), 100);
}

TEST(WizardTexts, VersionColumnShowsWhatTheSearchFindsNow) {
    WizardFixture wizard; // a registry of its own
    for (const char *version : {"1.5", "1.7"})
        ASSERT_TRUE(platform::RegistryCreateKey(platform::RegistryHive::LocalMachine,
                                                std::string("Software\\Runtime\\") + version));
    PrerequisiteRecord record = MakeRecord("Runtime", source_kind::kUrl, "http://h/r.exe");
    record.searches.push_back(
        {search_type::kRegistryKey, "HKLM\\Software\\Runtime", "2.0", "", "", ""});
    wizard.Build({record}, "h");
    auto *page = PageOf<PrerequisiteSelectionPage>(wizard, wizard_page::kSelection);
    EXPECT_EQ(Column(page->List(), 0, 1), "Требуется: 2.0 или выше. Найдено: 1.5, 1.7.");
    ExpectColumnsFitTheirTexts(page->List(), {1, 2});
    record.options = "i";
    EXPECT_TRUE(FirstSearchFoundValues(record).empty());
}

TEST(WizardFrame, PagesFollowTheFlagsAndPrereqsSwitch) {
    struct Case {
        const char *flags;
        bool prereqsGiven;
        std::vector<int> pages;
        bool backOnFirst;
        bool nextOnFirst;
    };
    using namespace wizard_page;
    const std::vector<Case> cases = {
        {"", false, {kComponentsText, kSelection, kDownload, kOpenSites, kInstall}, false, true},
        {"h", false, {kSelection, kDownload, kOpenSites, kInstall}, false, true},
        {"he", false, {kLicense, kSelection, kDownload, kOpenSites, kInstall}, false, false},
        {"e",
         false,
         {kComponentsText, kLicense, kSelection, kDownload, kOpenSites, kInstall},
         false,
         true},
        {"e", true, {kSelection, kDownload, kOpenSites, kInstall}, false, true},
    };
    for (const Case &c : cases) {
        WizardFixture wizard;
        wizard.Build({MakeRecord("Pkg", source_kind::kSetupFile, "pkg.sh")}, c.flags,
                     c.prereqsGiven);
        std::vector<int> ids;
        for (WizardPage *page : wizard.Sheet().Pages())
            ids.push_back(page->Id());
        EXPECT_EQ(ids, c.pages) << c.flags << c.prereqsGiven;
        EXPECT_EQ(wizard.Sheet().CurrentPageId(), c.pages.front()) << c.flags;
        EXPECT_EQ(wizard.Enabled(kBack), c.backOnFirst) << c.flags;
        EXPECT_EQ(wizard.Enabled(kNext), c.nextOnFirst) << c.flags;
    }
}

TEST(WizardFrame, PrereqsSwitchPressesNextOnceAndResizingKeepsTheMinimum) {
    WizardFixture wizard;
    wizard.Build({MakeRecord("Pkg", source_kind::kOpenSite, "http://site.example/pkg")}, "", true);
    WizardSheet &sheet = wizard.Sheet();
    sheet.show();
    ASSERT_TRUE(WaitUntil([&] { return sheet.CurrentPageId() == wizard_page::kOpenSites; }));
    EXPECT_EQ(wizard.windows.OpenedUrls(), std::vector<std::string>{"http://site.example/pkg"});
    const QSize opened = sheet.size();
    sheet.resize(opened.width() / 2, opened.height() / 2);
    EXPECT_EQ(sheet.size(), opened);
    sheet.resize(opened.width() + 100, opened.height() + 80);
    QApplication::processEvents();
    EXPECT_EQ(sheet.CurrentPage()->width(), sheet.width());
    // Back to the list: Next is not pressed a second time.
    wizard.Press(kBack);
    QApplication::processEvents();
    EXPECT_EQ(sheet.CurrentPageId(), wizard_page::kSelection);
    EXPECT_TRUE(sheet.CancelFlag());
}

TEST(WizardFrame, LanguageModuleReplacesThePagesTexts) {
    auto module = std::make_shared<ResourceModule>(*BuiltinResourceModule());
    module->dialogs[wizard_page::kLicense][1052] = "License Agreement";
    module->dialogs[wizard_page::kLicense][1045] = "I accept the terms";
    module->strings[145] = "Name";
    const auto previous = SetResourceModule(module);
    WizardFixture wizard;
    wizard.Build({MakeRecord("Core", source_kind::kSetupFile, "core.sh")}, "he");
    SetResourceModule(previous);
    auto *licence = PageOf<LicensePage>(wizard, wizard_page::kLicense);
    EXPECT_EQ(licence->findChild<QLabel *>("1052")->text().toStdString(), "License Agreement");
    EXPECT_EQ(licence->AcceptButton()->text().toStdString(), "I accept the terms");
    // Texts the module lacks stay those of the program.
    EXPECT_EQ(licence->findChild<QLabel *>("1053")->text().toStdString(),
              "Пожалуйста, внимательно прочитайте следующий текст");
    auto *selection = PageOf<PrerequisiteSelectionPage>(wizard, wizard_page::kSelection);
    EXPECT_EQ(selection->List()->headerItem()->text(0).toStdString(), "Name");
}

TEST(WizardFrame, LanguageModuleBlocksReplaceTheLicenceAndHeaderPicture) {
    QImage image(4, 2, QImage::Format_RGB32);
    image.fill(QColor(0, 128, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const std::string licence = "<p>Module licence</p>";
    const std::string text = "KRV-LANGUAGE-MODULE 1\nB\tRTF_FILE\t219\t" +
                             std::to_string(licence.size()) + "\n" + licence +
                             "\nB\tIMAGE_FILE\t222\t" + std::to_string(png.size()) + "\n" +
                             png.toStdString() + "\n";
    auto module = std::make_shared<ResourceModule>();
    ASSERT_TRUE(ParseLanguageModule(text, *module));
    // The module stays selected while the wizard runs (pictures load when
    // first drawn).
    const auto previous = SetResourceModule(module);
    WizardFixture wizard;
    wizard.Build({MakeRecord("Core", source_kind::kSetupFile, "core.sh")}, "e");
    auto *licencePage = PageOf<LicensePage>(wizard, wizard_page::kLicense);
    EXPECT_EQ(licencePage->Text()->toPlainText().toStdString(), "Module licence");
    EXPECT_EQ(wizard.Sheet().HeaderPicture().size(), QSize(4, 2));
    // What the module lacks is the program's own.
    auto *components = PageOf<ComponentsTextPage>(wizard, wizard_page::kComponentsText);
    RichTextView own(false);
    own.SetRichText(WizardResources::Defaults().componentsText);
    EXPECT_EQ(components->Text()->toPlainText(), own.toPlainText());
    EXPECT_EQ(wizard.Sheet().BackgroundPicture().size(), QSize(164, 314));
    SetResourceModule(previous);
}

TEST(WizardFrame, ComponentsTextScrollsWithoutCaretOrMenu) {
    RichTextView view(true);
    std::string text = "<p>Telmar</p>";
    for (int i = 0; i < 200; ++i)
        text += "<p>line " + std::to_string(i) + "</p>";
    view.SetRichText(text);
    view.resize(200, 100);
    view.show();
    QApplication::processEvents();
    QScrollBar *bar = view.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    QWheelEvent wheel(QPointF(10, 10), view.viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    const int afterWheel = bar->value();
    EXPECT_GT(afterWheel, 0);
    QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QApplication::sendEvent(&view, &pageDown);
    EXPECT_GT(bar->value(), afterWheel);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(10, 10),
                           view.viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(view.viewport(), &menu);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_FALSE(view.textInteractionFlags() & Qt::TextSelectableByKeyboard);
    EXPECT_FALSE(view.textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST(WizardFrame, LicenceGatesNextAndFinish) {
    struct Case {
        const char *what;
        bool mandatoryFound; // a mandatory prerequisite is handled
        bool finishWhenAccepted;
    };
    const std::vector<Case> cases = {{"mandatory handled", true, true},
                                     {"mandatory missing", false, false}};
    for (const Case &c : cases) {
        WizardFixture wizard;
        if (c.mandatoryFound)
            wizard.installed.insert("Core");
        wizard.Build({MakeRecord("Core", source_kind::kSetupFile, "core.sh", "m")}, "e");
        wizard.Press(kNext);
        auto *licence = PageOf<LicensePage>(wizard, wizard_page::kLicense);
        ASSERT_EQ(wizard.Sheet().CurrentPage(), licence) << c.what;
        EXPECT_TRUE(licence->DeclineButton()->isChecked());
        EXPECT_FALSE(wizard.Enabled(kNext)) << c.what;
        EXPECT_FALSE(wizard.Enabled(kFinish)) << c.what;
        EXPECT_TRUE(wizard.Enabled(kBack)) << c.what; // the text page comes first
        licence->AcceptButton()->setChecked(true);
        EXPECT_TRUE(wizard.Enabled(kNext)) << c.what;
        EXPECT_EQ(wizard.Enabled(kFinish), c.finishWhenAccepted) << c.what;
        licence->DeclineButton()->setChecked(true);
        EXPECT_FALSE(wizard.Enabled(kNext)) << c.what;
        // Going back and forth keeps the answer.
        licence->AcceptButton()->setChecked(true);
        wizard.Press(kBack);
        wizard.Press(kNext);
        EXPECT_TRUE(licence->AcceptButton()->isChecked()) << c.what;
        EXPECT_TRUE(wizard.Enabled(kNext)) << c.what;
    }
    WizardFixture first;
    first.Build({MakeRecord("Core", source_kind::kSetupFile, "core.sh")}, "he");
    EXPECT_FALSE(first.Enabled(kBack)); // the licence is the first page
}

TEST(WizardSelection, MandatoryParentsChildrenAndTheNextStep) {
    WizardFixture wizard;
    wizard.installed.insert("Found");
    wizard.installed.insert("FoundMandatory");
    wizard.Build({MakeRecord("Core", source_kind::kSetupFile, "core.sh", "m"),
                  MakeRecord("Found", source_kind::kSetupFile, "found.sh"),
                  MakeRecord("Parent", source_kind::kOpenSite, "http://p.example/"),
                  MakeRecord("Child", source_kind::kUrl, "http://c.example/c.exe", "", "Parent"),
                  MakeRecord("FoundMandatory", source_kind::kSetupFile, "fm.sh", "m")},
                 "h");
    auto *page = PageOf<PrerequisiteSelectionPage>(wizard, wizard_page::kSelection);
    QTreeWidget *list = page->List();
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(Column(list, 1, 2), "Пропустить"); // found: listed unticked
    EXPECT_EQ(Column(list, 3, 2), "Загрузить");
    ExpectColumnsFitTheirTexts(list, {1, 2});
    EXPECT_EQ(page->NextAction(), WizardNextAction::kDownload);
    EXPECT_EQ(page->Hint()->text().toStdString(), LoadUiString(154));

    EXPECT_TRUE(test::HasProgramIcon(wizard.Sheet()));

    // A mandatory prerequisite that is missing cannot be unticked: its box
    // stays ticked behind the message that says so.
    Qt::CheckState behindTheMessage = Qt::Unchecked;
    wizard.boxes->WhenShown([&](const MessageBoxRequest &) {
        behindTheMessage = list->topLevelItem(0)->checkState(0);
    });
    EXPECT_FALSE(page->SetRowChecked(0, false));
    EXPECT_EQ(behindTheMessage, Qt::Checked);
    wizard.boxes->WhenShown({});
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_TRUE(wizard.Installer().IsSelected(0));
    ASSERT_EQ(wizard.Boxes().size(), 1u);
    EXPECT_EQ(wizard.Boxes()[0], LoadUiString(168));
    ExpectBoxesNotEnglish(wizard, "mandatory");
    // One that is present can be ticked and unticked.
    EXPECT_TRUE(page->SetRowChecked(4, true));
    EXPECT_TRUE(page->SetRowChecked(4, false));
    EXPECT_EQ(wizard.Boxes().size(), 1u);

    // Unticking the parent takes its child; ticking the child brings it back.
    EXPECT_TRUE(page->SetRowChecked(2, false));
    EXPECT_EQ(Column(list, 3, 2), "Пропустить");
    EXPECT_FALSE(wizard.Installer().IsSelected(3));
    EXPECT_TRUE(page->SetRowChecked(3, true));
    EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Checked);

    struct Step {
        int uncheckRow;
        WizardNextAction action;
        int nextPage;
        std::string hint; // as the user reads it
    };
    const std::vector<Step> steps = {
        {3, WizardNextAction::kOpenSites, wizard_page::kOpenSites,
         "Нажмите кнопку Далее для открытия сайтов необходимых программ."},
        {2, WizardNextAction::kInstall, wizard_page::kInstall,
         "Нажмите кнопку Далее для установки необходимых программ."},
    };
    for (const Step &step : steps) {
        wizard.Sheet().SetCurrentPage(wizard_page::kSelection);
        page->SetRowChecked(step.uncheckRow, false);
        EXPECT_EQ(page->NextAction(), step.action);
        EXPECT_EQ(page->Hint()->text().toStdString(), step.hint);
        EXPECT_TRUE(wizard.Enabled(kNext));
        wizard.Press(kNext);
        EXPECT_EQ(wizard.Sheet().CurrentPageId(), step.nextPage);
        EXPECT_TRUE(WaitUntil([&] {
            auto *install = PageOf<PrerequisiteInstallPage>(wizard, wizard_page::kInstall);
            return step.nextPage != wizard_page::kInstall || install->RunOver();
        }));
    }
    EXPECT_EQ(wizard.publishedSelection, "0");

    // Flag "o": what is present is not listed.
    WizardFixture hidden;
    hidden.installed.insert("Found");
    hidden.Build({MakeRecord("Found", source_kind::kSetupFile, "found.sh")}, "ho");
    auto *hiddenPage = PageOf<PrerequisiteSelectionPage>(hidden, wizard_page::kSelection);
    EXPECT_EQ(hiddenPage->List()->topLevelItemCount(), 0);
    EXPECT_EQ(hiddenPage->NextAction(), WizardNextAction::kFinish);
    EXPECT_FALSE(hidden.Enabled(kNext));
    EXPECT_TRUE(hidden.Enabled(kFinish));
}

// A wizard started on the download page with the given downloads.
void StartDownloads(WizardFixture &wizard, std::vector<PrerequisiteRecord> records,
                    const std::string &flags = "h") {
    wizard.Build(std::move(records), flags);
    wizard.Press(kNext);
    ASSERT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kDownload);
}

PrerequisiteRecord Download(const std::string &name, int32_t size, const std::string &md5 = {}) {
    PrerequisiteRecord record =
        MakeRecord(name, source_kind::kUrl, "http://files.example/" + name + ".bin");
    record.exactSize = size;
    record.md5 = md5;
    return record;
}

TEST(WizardDownload, CountersSpeedAndAutoNext) {
    WizardFixture wizard;
    wizard.downloads.Script("http://files.example/A.bin",
                            {{0, {120, 5000000}, 0, 1}}); // waits after 120 bytes
    wizard.downloads.Script("http://files.example/B.bin", {{1048576, {1000, 1047576}, 0, 1, 2}});
    StartDownloads(wizard, {Download("A", 5000120), Download("B", 0)});
    auto *page = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    EXPECT_EQ(page->OverallTotal(), 5000120u + kUnknownSizeShare);
    EXPECT_EQ(Column(page->List(), 1, 1), "???");
    ASSERT_TRUE(WaitUntil([&] { return page->CurrentBytes() == 120; }));
    EXPECT_TRUE(wizard.Enabled(kBack));
    EXPECT_FALSE(wizard.Enabled(kNext));
    page->Tick(); // the first second gives no speed
    EXPECT_EQ(page->SpeedText()->text().toStdString(), "");
    page->Tick();
    EXPECT_EQ(page->SpeedText()->text().toStdString(), "1 ч 21 мин при 1.00 KB/с");
    EXPECT_EQ(Column(page->List(), 0, 2), "0%");

    // Pause keeps the transfer; the row and the button say so.
    page->TogglePause();
    EXPECT_TRUE(page->IsPaused());
    EXPECT_EQ(page->PauseButton()->text().toStdString(), "Продолжить");
    EXPECT_EQ(Column(page->List(), 0, 2), "Приостановлено");
    page->Tick();
    EXPECT_EQ(Column(page->List(), 0, 2), "Приостановлено");
    page->TogglePause();
    EXPECT_EQ(page->PauseButton()->text().toStdString(), "Пауза");

    // B announces 1 MiB for its unknown size: each byte counts 5 overall.
    wizard.downloads.Release();
    ASSERT_TRUE(WaitUntil([&] { return page->CurrentRow() == 1 && page->CurrentBytes() == 1000; }));
    EXPECT_EQ(page->OverallDone(), 5000120u + 5000u);
    wizard.downloads.Release();
    EXPECT_EQ(Column(page->List(), 0, 2), "Завершено");
    EXPECT_EQ(Column(page->List(), 1, 1), "1024.00 KB");
    // Done: Next goes on to the installation by itself.
    ASSERT_TRUE(WaitUntil([&] { return wizard.Sheet().CurrentPageId() == wizard_page::kInstall; }));
    EXPECT_EQ(page->OverallDone(), page->OverallTotal());
    EXPECT_EQ(page->Failures(), 0);
    EXPECT_EQ(wizard.Settings().prerequisites[1].exactSize, 0); // the record is not changed
    EXPECT_TRUE(wizard.Settings().prerequisites[1].downloaded);
}

// A file whose size neither the package nor the server gives: the page
// shows the bytes so far and the rate, no time left and no made-up total;
// once fetched, its size counts in the overall text. The path it is saved
// to keeps its file name in sight however narrow the page.
TEST(WizardDownload, UnknownSizeShowsBytesAndRateWithoutTimeLeft) {
    WizardFixture wizard;
    wizard.downloads.Script("http://files.example/A.bin", {{0, {589824, 1024}, 0, 1}});
    wizard.Build({Download("A", 0)}, "h");
    const std::string folder = wizard.Root() + "/" + std::string(150, 'x') + "/dl";
    std::filesystem::create_directories(folder);
    wizard.Installer().Downloads().SetFolder(folder);
    wizard.Press(kNext);
    auto *page = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    auto text = [page](const char *name) {
        auto *label = page->findChild<QLabel *>(name);
        return label ? label->text().toStdString() : std::string("<no label>");
    };
    ASSERT_TRUE(WaitUntil([&] { return page->CurrentBytes() == 589824; }));
    page->Tick();
    page->Tick();
    EXPECT_EQ(page->SpeedText()->text().toStdString(), "576.00 KB/с");
    EXPECT_EQ(text("1013"), "Выполнение: 576.00 KB");
    EXPECT_EQ(text("1012"), "Загрузка: A (576.00 KB)");
    EXPECT_EQ(Column(page->List(), 0, 2), "576.00 KB");

    ElidedLabel *target = page->PathText();
    EXPECT_EQ(target->toolTip().toStdString(), folder + "/A.bin");
    wizard.Sheet().show();
    QApplication::processEvents();
    EXPECT_LE(wizard.Sheet().width(), 800);
    EXPECT_LE(target->fontMetrics().horizontalAdvance(target->text()), target->width());
    EXPECT_TRUE(target->text().endsWith("/A.bin")) << target->text().toStdString();
    EXPECT_TRUE(target->text().contains(QChar(0x2026))) << target->text().toStdString();

    page->AutoInstall()->setChecked(false);
    wizard.downloads.Release();
    ASSERT_TRUE(WaitUntil([&] { return page->CycleOver(); }));
    EXPECT_EQ(text("1013"), "Выполнение: 100% (577.00 KB из 577.00 KB)");
    EXPECT_EQ(Column(page->List(), 0, 2), "Завершено");
    EXPECT_EQ(page->Failures(), 0);

    // A file the server sizes only (1 MiB) whose transfer ends short and is
    // continued: what the first try counted is taken back whole, the bar's
    // share of it too.
    WizardFixture again;
    again.downloads.Script("http://files.example/B.bin",
                           {{1048576, {1400}, 0xE000000F}, {1048576, {1400, 1047176}}});
    StartDownloads(again, {Download("B", 0)});
    auto *second = PageOf<DownloadPage>(again, wizard_page::kDownload);
    second->AutoInstall()->setChecked(false);
    ASSERT_TRUE(WaitUntil([&] { return second->CycleOver(); }));
    EXPECT_EQ(second->Failures(), 0);
    EXPECT_EQ(second->OverallDone(), second->OverallTotal());
    EXPECT_EQ(second->findChild<QLabel *>("1013")->text().toStdString(),
              "Выполнение: 100% (1024.00 KB из 1024.00 KB)");
}

TEST(WizardDownload, FailedRowsKeepTheWizardOnThePage) {
    struct Case {
        const char *what;
        FakeTransfer first;
        std::string md5;
        std::string column; // state of the first row at the end
        int startsOfFirst;
    };
    const std::vector<Case> cases = {
        {"server size differs", {2000, {2000}}, "", "Неверный размер", 1},
        {"MD5 mismatch", {0, {1000}}, std::string(32, '0'), LoadUiString(139), 1},
        {"transfer keeps ending short",
         {0, {400}, 0xE000000F},
         "",
         "Ошибка: " + GetInternetErrorText(0xE000000F),
         1 + kMaxShortTransferRestarts},
        {"server error", {0, {}, 0xE0000018}, "", "Ошибка: " + GetInternetErrorText(0xE0000018), 1},
    };
    for (const Case &c : cases) {
        WizardFixture wizard;
        wizard.downloads.Script("http://files.example/A.bin", {c.first});
        wizard.downloads.Script("http://files.example/B.bin", {{0, {10}}});
        StartDownloads(wizard, {Download("A", 1000, c.md5), Download("B", 10)});
        auto *page = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
        ASSERT_TRUE(WaitUntil([&] { return page->CycleOver(); })) << c.what;
        EXPECT_EQ(Column(page->List(), 0, 2), c.column) << c.what;
        EXPECT_EQ(Column(page->List(), 1, 2), "Завершено") << c.what;
        EXPECT_EQ(page->Failures(), 1) << c.what;
        EXPECT_EQ(wizard.Boxes(), std::vector<std::string>{LoadUiString(183)}) << c.what;
        ExpectBoxesNotEnglish(wizard, c.what);
        EXPECT_FALSE(wizard.Enabled(kNext)) << c.what;
        EXPECT_TRUE(wizard.Enabled(kBack)) << c.what;
        EXPECT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kDownload) << c.what;
        const auto started = wizard.downloads.StartedUrls();
        EXPECT_EQ(std::count(started.begin(), started.end(), "http://files.example/A.bin"),
                  c.startsOfFirst)
            << c.what;
        EXPECT_FALSE(wizard.Settings().prerequisites[0].downloaded) << c.what;
        if (!c.md5.empty()) {
            EXPECT_FALSE(std::filesystem::exists(wizard.Root() + "/dl/A.bin")) << c.what;
        }
    }

    // A file of unknown size that the server refuses leaves its bar empty
    // and still at the end of the cycle, not drawn as work going on.
    WizardFixture wizard;
    wizard.downloads.Script("http://files.example/A.bin", {{0, {}, 0xE0000018}});
    StartDownloads(wizard, {Download("A", 0)});
    auto *page = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    ASSERT_TRUE(WaitUntil([&] { return page->CycleOver(); }));
    for (const char *name : {"1008", "1009"}) {
        auto *bar = page->findChild<QProgressBar *>(name);
        ASSERT_NE(bar, nullptr) << name;
        EXPECT_NE(bar->maximum(), bar->minimum()) << name << " is drawn busy";
        EXPECT_EQ(bar->value(), bar->minimum()) << name;
    }
}

TEST(WizardDownload, ComingBackRestartsAtTheFirstRow) {
    WizardFixture wizard;
    wizard.downloads.Script("http://files.example/A.bin", {{0, {10, 10}, 0, 1}, {0, {20}}});
    wizard.downloads.Script("http://files.example/B.bin", {{0, {30}}});
    StartDownloads(wizard, {Download("A", 20), Download("B", 30)});
    auto *page = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    ASSERT_TRUE(WaitUntil([&] { return page->CurrentBytes() == 10; }));
    wizard.Press(kBack);
    EXPECT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kSelection);
    EXPECT_TRUE(page->IsPaused());
    wizard.Press(kNext);
    ASSERT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kDownload);
    page->AutoInstall()->setChecked(false);
    ASSERT_TRUE(WaitUntil([&] { return page->CycleOver(); }));
    EXPECT_EQ(wizard.downloads.StartedUrls(),
              (std::vector<std::string>{"http://files.example/A.bin", "http://files.example/A.bin",
                                        "http://files.example/B.bin"}));
    EXPECT_EQ(page->Failures(), 0);
    EXPECT_EQ(page->OverallDone(), 50u);
    EXPECT_TRUE(wizard.Enabled(kNext));
    EXPECT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kDownload); // 1026 unticked
}

TEST(WizardOpenSites, FinishChecksAgainForWhatTheUserInstalled) {
    WizardFixture wizard;
    wizard.Build({MakeRecord("Viewer", source_kind::kOpenSite, "http://viewer.example/get")}, "h");
    wizard.Press(kNext);
    auto *page = PageOf<OpenSitesPage>(wizard, wizard_page::kOpenSites);
    ASSERT_EQ(wizard.Sheet().CurrentPage(), page);
    EXPECT_EQ(wizard.windows.OpenedUrls(), std::vector<std::string>{"http://viewer.example/get"});
    EXPECT_EQ(Column(page->List(), 0, 1), "http://viewer.example/get");
    EXPECT_EQ(page->Hint()->text().toStdString(), FormatUiString(170, "Telmar 2.3"));
    EXPECT_FALSE(wizard.Enabled(kNext));
    EXPECT_TRUE(wizard.Enabled(kFinish));
    page->OpenSiteOfRow(0);
    EXPECT_EQ(wizard.windows.OpenedUrls().size(), 2u);

    wizard.Press(kFinish); // not installed yet
    EXPECT_EQ(wizard.Boxes(), std::vector<std::string>{LoadUiString(188)});
    EXPECT_FALSE(wizard.Sheet().Finished());
    EXPECT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kSelection);
    wizard.Press(kNext);
    wizard.installed.insert("Viewer");
    wizard.Press(kFinish);
    EXPECT_TRUE(wizard.Sheet().Finished());
    EXPECT_FALSE(wizard.Sheet().CancelFlag());
}

TEST(WizardInstall, OutcomesOfTheSetups) {
    struct Case {
        const char *what;
        std::string options; // of the prerequisite
        bool starts;         // its setup starts
        bool installs;       // and installs it
        int rebootAnswer;    // to the restart question
        platform::RebootOutcome reboot;
        std::string rowState;
        std::string status; // 1012 at the end ("" = not looked at)
        bool finished;      // the wizard ended
        bool cancelFlag;
        bool finishEnabled;
        bool backEnabled;
    };
    using platform::RebootOutcome;
    const std::string notStarted = FormatUiString(176, GetInternetErrorText(ENOENT));
    const std::string kRebootFailedText = "\r\nНе удалось перезагрузить компьютер. Перезагрузите "
                                          "его вручную; установка продолжится после перезагрузки.";
    const std::vector<Case> cases = {
        {"installed: Finish pressed by itself", "", true, true, 0, RebootOutcome::kFailed,
         "Установлено", LoadUiString(180), true, false, true, true},
        {"setup cannot start", "", false, false, 0, RebootOutcome::kFailed, notStarted,
         LoadUiString(178), false, true, false, true},
        {"still missing after its setup", "", true, false, 0, RebootOutcome::kFailed, "Failed",
         LoadUiString(179), false, true, false, true},
        {"restart refused: ends without installing", "r", true, true, answer::kNo,
         RebootOutcome::kFailed, "Установлено", "", true, true, false, false},
        {"restart under way", "r", true, true, answer::kYes, RebootOutcome::kRequested,
         "Установлено", LoadUiString(265), false, true, false, false},
        {"restart fails: reported, Finish on", "r", true, true, answer::kYes,
         RebootOutcome::kFailed, "Установлено", kRebootFailedText, false, true, true, false},
    };
    for (const Case &c : cases) {
        WizardFixture wizard;
        const std::string setup = wizard.Root() + "/own/runtime-setup.sh";
        PrerequisiteRecord record =
            MakeRecord("Runtime", source_kind::kUrl, "file://" + setup, c.options);
        if (c.installs)
            wizard.setupInstalls["runtime-setup.sh"] = "Runtime";
        if (!c.starts)
            wizard.setupsThatDoNotStart.insert("runtime-setup.sh");
        if (c.rebootAnswer)
            wizard.boxes->Answer(c.rebootAnswer);
        wizard.rebootOutcome = c.reboot;
        wizard.Build({record}, "h");
        EXPECT_EQ(wizard.Installer().GetPrerequisiteState(0), prereq_state::kDownloaded) << c.what;
        wizard.Press(kNext);
        auto *page = PageOf<PrerequisiteInstallPage>(wizard, wizard_page::kInstall);
        ASSERT_EQ(wizard.Sheet().CurrentPage(), page) << c.what;
        EXPECT_FALSE(wizard.Enabled(kFinish)) << c.what;
        ASSERT_TRUE(WaitUntil([&] { return page->RunOver(); })) << c.what;
        QApplication::processEvents();
        EXPECT_EQ(Column(page->List(), 0, 1), c.rowState) << c.what;
        // A long state ("Ошибка: ..."): its column is as wide as it, and the
        // cell's tooltip holds it whole.
        ExpectColumnsFitTheirTexts(page->List(), {1});
        EXPECT_EQ(page->List()->topLevelItem(0)->toolTip(1).toStdString(), c.rowState) << c.what;
        if (!c.status.empty()) {
            EXPECT_EQ(page->Status()->text().toStdString(), c.status) << c.what;
        }
        ExpectNotEnglish(page->Status()->text().toStdString(), c.what);
        ExpectBoxesNotEnglish(wizard, c.what);
        EXPECT_EQ(wizard.Sheet().Finished(), c.finished) << c.what;
        EXPECT_EQ(wizard.Sheet().CancelFlag(), c.cancelFlag) << c.what;
        if (!c.finished) {
            EXPECT_EQ(wizard.Enabled(kFinish), c.finishEnabled) << c.what;
            EXPECT_EQ(wizard.Enabled(kBack), c.backEnabled) << c.what;
        }
        EXPECT_EQ(wizard.launched.size(), 1u) << c.what;
        EXPECT_EQ(wizard.reboots.size(), c.rebootAnswer == answer::kYes ? 1u : 0u) << c.what;
        if (c.rebootAnswer != answer::kNo) {
            EXPECT_FALSE(page->AutoFinish()->isEnabled()) << c.what;
        }
    }
}

TEST(WizardFlow, ChooseAcceptDownloadOpenInstallFinish) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    WizardFixture wizard;
    wizard.realDownloads = true;
    PrerequisiteRecord runtime =
        MakeRecord("Runtime", source_kind::kUrl, server.Url("/gen/300000"));
    runtime.exactSize = 300000;
    runtime.folder = "runtime?runtime-setup.bin";
    wizard.setupInstalls["runtime-setup.bin"] = "Runtime";
    wizard.Build({runtime, MakeRecord("Viewer", source_kind::kOpenSite, "http://viewer.example/")},
                 "e");
    WizardSheet &sheet = wizard.Sheet();
    sheet.show();
    wizard.Press(kNext); // the components text
    auto *licence = PageOf<LicensePage>(wizard, wizard_page::kLicense);
    ASSERT_EQ(sheet.CurrentPage(), licence);
    licence->AcceptButton()->setChecked(true);
    wizard.Press(kNext);
    ASSERT_EQ(sheet.CurrentPageId(), wizard_page::kSelection);
    wizard.Press(kNext);
    auto *download = PageOf<DownloadPage>(wizard, wizard_page::kDownload);
    ASSERT_EQ(sheet.CurrentPage(), download);
    EXPECT_FALSE(download->AutoInstall()->isEnabled()); // a site is to be opened
    ASSERT_TRUE(WaitUntil([&] { return download->CycleOver(); }));
    EXPECT_EQ(download->Failures(), 0);
    const std::string file = wizard.Root() + "/dl/runtime/runtime-setup.bin";
    EXPECT_EQ(test::ReadFile(file), test::PatternBytes(0, 300000));
    EXPECT_EQ(Column(download->List(), 0, 2), "Завершено");
    EXPECT_EQ(download->OverallDone(), 300000u);

    // The user fetches the viewer from its site meanwhile.
    wizard.installed.insert("Viewer");
    wizard.Press(kNext);
    ASSERT_EQ(sheet.CurrentPageId(), wizard_page::kOpenSites);
    EXPECT_EQ(wizard.windows.OpenedUrls(), std::vector<std::string>{"http://viewer.example/"});
    wizard.Press(kNext);
    ASSERT_EQ(sheet.CurrentPageId(), wizard_page::kInstall);
    ASSERT_TRUE(WaitUntil([&] { return sheet.Finished(); }));
    EXPECT_FALSE(sheet.CancelFlag());

    // The install page's picture keeps from its text the gap the download
    // page keeps between a label and its value.
    auto *install = PageOf<PrerequisiteInstallPage>(wizard, wizard_page::kInstall);
    auto *icon = install->findChild<QLabel *>("1033");
    ASSERT_NE(icon, nullptr);
    const int iconGap = install->Status()->x() - (icon->x() + icon->width());
    QLabel *speedLabel = nullptr;
    for (QLabel *label : download->findChildren<QLabel *>())
        if (label->text() == QString::fromUtf8("Оставшееся время:"))
            speedLabel = label;
    ASSERT_NE(speedLabel, nullptr);
    const int labelGap = download->SpeedText()->x() - (speedLabel->x() + speedLabel->width());
    EXPECT_GE(iconGap, 4);
    EXPECT_EQ(iconGap, labelGap);

    ASSERT_EQ(wizard.launched.size(), 1u);
    EXPECT_NE(wizard.launched[0].find("runtime-setup.bin"), std::string::npos);
    EXPECT_EQ(wizard.publishedSelection, "0,1");
    EXPECT_TRUE(wizard.Boxes().empty());
}

TEST(WizardInstall, SetupsThatCannotBeTakenOutOfThePackageCancelTheWizard) {
    class BrokenPackage : public PrerequisitePackage {
      public:
        int FindPrerequisiteFile(std::string_view name, std::string &outPath) override {
            outPath = "/nonexistent/" + std::string(name);
            return 100;
        }
        int ExtractEntries(const std::vector<uint32_t> &, const ExtractionDialogParts &) override {
            return result_code::kCorruptArchive;
        }
        std::string DetectionProgramPath(const SearchRecord &) override { return {}; }
    } package;
    WizardFixture wizard;
    wizard.package = &package;
    wizard.Build({MakeRecord("Runtime", source_kind::kSetupFile, "runtime.run")}, "h");
    wizard.Sheet().SetCancelFlag(false);
    wizard.Press(kNext);
    ASSERT_EQ(wizard.Sheet().CurrentPageId(), wizard_page::kInstall);
    ASSERT_TRUE(WaitUntil([&] {
        return wizard.Sheet().result() == QDialog::Rejected && wizard.Sheet().CancelFlag();
    }));
    EXPECT_FALSE(wizard.Sheet().Finished());
    EXPECT_TRUE(wizard.launched.empty());
}

// A package without files: the prerequisites come from the settings alone.
class SettingsOnlyPackage : public RunnerPackage {
  public:
    int Open(const std::string &) override { return 0; }
    std::string PackagePath() const override { return {}; }
    std::string ErrorText() const override { return {}; }
    uint32_t ContainerFlags() const override { return 0; }
    std::string PackageId() const override { return {}; }
    bool ReadSettings(IniDocument &) override { return false; }
    void SetExtractionFolder(const std::string &) override {}
    void SetSecondFolder(const std::string &) override {}
    void SetPackageNameStem(const std::string &) override {}
    void SetPassword(const std::string &) override {}
    void SetKeepMode(int) override {}
    int KeepMode() const override { return 0; }
    void SetPackJars(bool) override {}
    int ExtractMainPackage(std::string &, const ExtractionDialogParts &) override { return 0; }
    int ExtractAll(const ExtractionDialogParts &) override { return 0; }
    void CleanUpExtraction() override {}
};

TEST(WizardRun, FullRunWithPrerequisitesGoesThroughTheWizard) {
    struct Case {
        const char *what;
        std::string flags;
        bool found;  // the prerequisite is present already
        bool cancel; // the user cancels the wizard
        int shown;   // times the wizard was shown
        int result;  // of the prerequisites step
    };
    const std::vector<Case> cases = {
        {"finished", "h", false, false, 1, 0},
        {"cancelled", "h", false, true, 1, -1},
        {"basic run has no wizard", "hb", false, false, 0, 0},
        {"nothing to do", "h", true, false, 0, 0},
    };
    for (const Case &c : cases) {
        WizardFixture fixture; // the stand-ins
        if (c.found)
            fixture.installed.insert("Viewer");
        int shown = 0;
        WizardSteps steps(
            [&](WizardSheet &sheet) {
                ++shown;
                sheet.Start();
                EXPECT_EQ(sheet.CurrentPageId(), wizard_page::kSelection) << c.what;
                if (c.cancel) {
                    sheet.PressButton(kCancel);
                } else {
                    sheet.PressButton(kNext);
                    fixture.installed.insert("Viewer");
                    sheet.PressButton(kFinish);
                }
                return sheet.Finished() && !sheet.CancelFlag();
            },
            fixture.system);
        SetupRunner runner("/exefullui", fixture.Root() + "/TelmarSetup2.3",
                           std::make_unique<SettingsOnlyPackage>());
        SetupSettings settings;
        settings.general.flagLetters = c.flags;
        settings.general.downloadFolder = fixture.Root() + "/dl";
        settings.prerequisites.push_back(
            MakeRecord("Viewer", source_kind::kOpenSite, "http://viewer.example/"));
        EXPECT_EQ(steps.RunPrerequisites(runner, settings), c.result) << c.what;
        EXPECT_EQ(shown, c.shown) << c.what;
    }
}

TEST(WizardPictures, DecodedOrNothing) {
    QImage image(4, 2, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0));
    image.setPixelColor(0, 0, QColor(0, 0, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    struct Case {
        const char *what;
        std::string bytes;
        bool loaded;
        int width, height;
    };
    const std::vector<Case> cases = {
        {"png", png.toStdString(), true, 4, 2},
        {"six bytes of nothing", std::string("\x42\x4d\x00\x01\x02\x03", 6), false, 0, 0},
        {"empty", "", false, 0, 0},
        {"cut png", png.left(20).toStdString(), false, 0, 0},
    };
    for (const Case &c : cases) {
        PictureControl picture;
        EXPECT_EQ(picture.LoadFromMemory(c.bytes.data(), c.bytes.size()), c.loaded) << c.what;
        EXPECT_EQ(picture.IsLoaded(), c.loaded) << c.what;
        EXPECT_EQ(picture.Width(), c.width) << c.what;
        EXPECT_EQ(picture.Height(), c.height) << c.what;
        EXPECT_EQ(picture.ToPixmap().isNull(), !c.loaded) << c.what;
    }
    PictureControl picture;
    picture.LoadFromMemory(png.constData(), static_cast<std::size_t>(png.size()));
    picture.SetTransparentColor(QColor(0, 0, 255));
    picture.SetCrop(QRect(0, 0, 2, 1));
    const QImage drawn = picture.ToPixmap().toImage();
    EXPECT_EQ(drawn.size(), QSize(2, 1));
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
    EXPECT_EQ(drawn.pixelColor(1, 0), QColor(255, 0, 0));
    EXPECT_EQ(PictureControl::HimetricToPixels(2540, 96), 96);
    EXPECT_EQ(PictureControl::PixelsToHimetric(96, 96), 2540);
    EXPECT_EQ(PictureControl::PixelsToHimetric(5, 0), 0);
    EXPECT_FALSE(picture.LoadFromFile("/nonexistent/picture.png"));
    EXPECT_FALSE(picture.IsLoaded());
}

} // namespace
} // namespace krv::setup
