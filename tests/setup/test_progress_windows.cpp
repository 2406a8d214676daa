// The progress windows on the offscreen platform: workers drive them from
// their own threads while the test thread runs the modal loop.
#include "credentials_dialog.h"
#include "extraction_progress_dialog.h"
#include "program_icon.h"
#include "progress_window.h"
#include "qt_message_boxes.h"
#include "qt_setup_windows.h"
#include "runner_dialogs.h"
#include "status_window.h"
#include "step_progress_dialogs.h"
#include "support_env.h"
#include "support_windows.h"
#include "toolkit_language.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

using namespace krv::setup;

namespace {

// Clicks Cancel once the window is up.
void CancelWhenShown(ProgressWindow *window) {
    QTimer::singleShot(0, window, [window] { window->CancelButton()->click(); });
}

TEST(ExtractionProgressDialog, WorkerEndsItAtTheTotalOrByClosingWhateverTheTotal) {
    struct Case {
        const char *what;
        uint64_t total;
        bool closeInsteadOfProgress;
        int result;
    };
    const Case cases[] = {{"progress reaches the total", 1000, false, dialog_result::kFinished},
                          {"total 0, worker closes", 0, true, dialog_result::kCancelled},
                          {"worker fails midway", 1000, true, dialog_result::kCancelled}};
    for (const Case &c : cases) {
        ExtractionProgressDialog dialog("Установка Telmar", test::QuietMessages());
        ExtractionDialogParts parts = dialog.Parts();
        AutoResetEvent ready;
        parts.extraction->SetReadyEvent(&ready);
        parts.extraction->SetTotal(c.total);
        QString shownText;
        std::thread worker([&] {
            ready.Wait();
            parts.extraction->BeginFile(c.total);
            parts.extraction->SetCurrentFile("/tmp/x/file.bin", 1);
            UiDispatcher::Ask(dialog.Window(),
                              [&] { shownText = dialog.Window()->TextLine()->FullText(); });
            if (c.closeInsteadOfProgress)
                parts.extraction->Close();
            else
                parts.extraction->Progress(c.total);
        });
        EXPECT_EQ(parts.extraction->ShowModal(), c.result) << c.what;
        worker.join();
        EXPECT_EQ(shownText, QString::fromUtf8("Извлечение файла в /tmp/x/file.bin")) << c.what;
        EXPECT_FALSE(dialog.Window()->isVisible()) << c.what;
    }
}

TEST(ExtractionProgressDialog, CancelIsSeenByTheWorkerUnlessNotCancellable) {
    for (bool cancellable : {true, false}) {
        ExtractionProgressDialog dialog("Установка", test::QuietMessages());
        ExtractionDialogParts parts = dialog.Parts();
        AutoResetEvent ready;
        parts.extraction->SetReadyEvent(&ready);
        parts.extraction->SetCancellable(cancellable);
        parts.extraction->SetTotal(10);
        CancelWhenShown(dialog.Window());
        bool seenCancelled = false;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            ready.Wait();
            // Let the click arrive (the window may be gone by then), then
            // report like an extraction would.
            UiDispatcher::Ask(dialog.Window(), [] {});
            UiDispatcher::Ask(dialog.Window(), [] {});
            seenCancelled = parts.extraction->IsCancelled();
            parts.extraction->Close();
            finished = true;
            UiDispatcher::Wake();
        });
        const int result = parts.extraction->ShowModal();
        UiDispatcher::WaitProcessingEvents([&] { return finished.load(); });
        worker.join();
        EXPECT_EQ(seenCancelled, cancellable);
        EXPECT_EQ(result, dialog_result::kCancelled);
        EXPECT_EQ(dialog.Window()->CancelButton()->isEnabled(), cancellable);
    }
}

// A download list whose items succeed or fail as told.
class FakeDownloads : public DownloadJob {
  public:
    explicit FakeDownloads(std::vector<bool> items) : m_items(std::move(items)) {}
    uint32_t ItemCount() const override { return static_cast<uint32_t>(m_items.size()); }
    bool DownloadItem(uint32_t index, ProgressSink &sink) override {
        sink.BeginItem(100, "file" + std::to_string(index));
        sink.Advance(60);
        if (onItem)
            onItem();
        sink.Advance(40);
        if (!m_items[index])
            return false;
        sink.EndItem(1);
        return true;
    }
    std::function<void()> onItem;

  private:
    std::vector<bool> m_items;
};

TEST(DownloadProgressDialog, EndsFinishedAfterTheLastItemAndCancelledAtAFailure) {
    struct Case {
        std::vector<bool> items;
        int result;
    };
    const Case cases[] = {{{true, true}, dialog_result::kFinished},
                          {{true, false, true}, dialog_result::kCancelled},
                          {{}, dialog_result::kFinished}};
    for (bool withWindow : {true, false}) {
        for (const Case &c : cases) {
            FakeDownloads job(c.items);
            DownloadProgressDialog dialog(job, "Загрузка",
                                          withWindow ? MakeProgressWorkerWindow() : nullptr);
            EXPECT_EQ(dialog.Run(), c.result) << c.items.size();
        }
    }
}

TEST(DownloadProgressDialog, CancelGreysTheWindowUntilTheItemEnds) {
    FakeDownloads job({true, true, true});
    DownloadProgressDialog dialog(job, "Загрузка", MakeProgressWorkerWindow());
    bool greyedWhileOpen = false;
    int items = 0;
    job.onItem = [&] {
        if (++items != 1)
            return;
        // Cancel during the first item; the window must stay up, greyed.
        UiDispatcher::Ask(qApp, [&] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *window = dynamic_cast<ProgressWindow *>(top);
                    window && window->isVisible())
                    window->CancelButton()->click();
        });
        UiDispatcher::Ask(qApp, [&] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *window = dynamic_cast<ProgressWindow *>(top);
                    window && window->isVisible())
                    greyedWhileOpen = !window->CancelButton()->isEnabled();
        });
    };
    EXPECT_EQ(dialog.Run(), dialog_result::kCancelled);
    EXPECT_TRUE(greyedWhileOpen);
    EXPECT_EQ(items, 1);
}

class FakePass : public PrerequisitePass {
  public:
    FakePass(bool reboot, bool mandatoryDone, bool asks = false)
        : m_reboot(reboot), m_done(mandatoryDone), m_asks(asks) {}
    void ProcessPrerequisites(ProgressSink &sink) override {
        // A question for the interface thread, as the restart question is.
        if (m_asks)
            answer = UiDispatcher::Ask(qApp, [] { return 6; });
        sink.Begin(2, 0);
        sink.SetStatus({0, "step one"});
        sink.SetStatus({0, "step two"});
        sink.EndItem(1);
    }
    bool RebootRequired() const override { return m_reboot; }
    void SelectAllPrerequisites() override { ++selected; }
    bool MandatoryPrerequisitesDone() const override { return m_done; }
    void Abort() override {}
    int selected = 0;
    int answer = 0;

  private:
    bool m_reboot, m_done, m_asks;
};

TEST(PrerequisiteProgressDialog, ResultFollowsRebootAndMandatoryItems) {
    struct Case {
        bool reboot, done;
        int result;
        int selected;
    };
    const Case cases[] = {{false, true, dialog_result::kFinished, 1},
                          {false, false, dialog_result::kMandatoryMissing, 1},
                          {true, true, dialog_result::kCancelled, 0}};
    for (const Case &c : cases) {
        for (bool withWindow : {true, false}) {
            // Without a window the interface thread still answers the
            // worker's questions.
            FakePass pass(c.reboot, c.done, true);
            PrerequisiteProgressDialog dialog(pass, "Установка",
                                              withWindow ? MakeProgressWorkerWindow() : nullptr);
            EXPECT_EQ(dialog.Run(), c.result);
            EXPECT_EQ(pass.selected, c.selected);
            EXPECT_EQ(pass.answer, 6);
        }
    }
}

TEST(StatusWindow, ClosesFromAWorkerWhileTheInterfaceThreadRuns) {
    StatusWindow status;
    status.Show(nullptr);
    status.Show(nullptr); // a second Show changes nothing
    status.SetText(220);
    QPointer<QDialog> window = status.Window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    std::thread worker([&] { status.Close(); });
    // The interface thread keeps processing events until the window is gone.
    while (window)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_FALSE(status.Shown());
}

// Every window shown while it lives: whether it carried the program's icon,
// and what `inspect` found in it. Dialogs are ended as soon as they are up,
// so the call that opened one returns.
class ShownWindows : public QObject {
  public:
    explicit ShownWindows(std::function<bool(QWidget &)> inspect = {})
        : m_inspect(std::move(inspect)) {
        qApp->installEventFilter(this);
    }
    ~ShownWindows() override { qApp->removeEventFilter(this); }

    int shown = 0;
    int withIcon = 0;
    int inspectedWell = 0;

  protected:
    bool eventFilter(QObject *object, QEvent *event) override {
        auto *window = qobject_cast<QWidget *>(object);
        if (event->type() != QEvent::Show || !window || !window->isWindow())
            return false;
        ++shown;
        withIcon += test::HasProgramIcon(*window);
        inspectedWell += m_inspect && m_inspect(*window);
        if (auto *dialog = qobject_cast<QDialog *>(window)) {
            QPointer<QDialog> open = dialog;
            QTimer::singleShot(0, dialog, [open] {
                if (open)
                    open->done(QDialog::Rejected);
            });
        }
        return false;
    }

  private:
    std::function<bool(QWidget &)> m_inspect;
};

// The texts of a window's push buttons, without shortcut marks, sorted (the
// platform orders a button box).
QStringList PushButtonTexts(const QWidget &window) {
    QStringList texts;
    for (const QPushButton *button : window.findChildren<QPushButton *>())
        texts << QString(button->text()).remove(QLatin1Char('&'));
    texts.sort();
    return texts;
}

// Every window carries the program's icon, in a Russian run and in an
// English one, and its buttons are the toolkit's in the run's language
// (the language dialog's are its own texts, shown before a language is
// chosen).
TEST(SetupWindows, EveryWindowCarriesTheProgramIconAndButtonsInTheRunsLanguage) {
    FollowUiLanguageInToolkit();
    auto box = [](unsigned style) {
        return [style] {
            MessageBoxRequest request;
            request.defaultCaption = true;
            request.text = "Текст";
            request.style = style;
            QtMessageBoxPresenter().Show(request);
        };
    };
    struct Case {
        const char *what;
        std::function<void()> open;
        std::optional<QStringList> russian, english; // the buttons (none: not looked at)
    };
    const QStringList okCancelRu = {"OK", "Отмена"}, okCancelEn = {"Cancel", "OK"};
    const std::vector<Case> cases = {
        {"language dialog",
         [] {
             ShowLanguageDialog({0x0419, 0x0409}, 0x0419, "Установка");
         },
         {},
         {}},
        {"package password", [] { ShowPackagePasswordDialog("Установка"); }, okCancelRu,
         okCancelEn},
        {"product instance",
         [] {
             InstalledInstances instances;
             InstanceSelectionDialog(instances, "Установка", "Telmar");
         },
         okCancelRu, okCancelEn},
        {"credentials",
         [] {
             CredentialsDialog dialog("files.example", "Files", nullptr);
             dialog.exec();
         },
         okCancelRu, okCancelEn},
        {"progress window (download, prerequisites, extraction)",
         [] {
             ProgressWindow window(nullptr);
             window.RunModal();
         },
         QStringList{"Отмена"}, QStringList{"Cancel"}},
        {"status window",
         [] {
             StatusWindow status;
             status.Show(nullptr);
             status.Close();
         },
         QStringList{}, QStringList{}},
        {"restart question", box(mb::kYesNo | mb::kIconQuestion), QStringList{"Да", "Нет"},
         QStringList{"No", "Yes"}},
        {"error box", box(mb::kOkCancel | mb::kIconError), okCancelRu, okCancelEn},
        {"abort, retry, ignore", box(mb::kAbortRetryIgnore),
         QStringList{"Повторить", "Прервать", "Пропустить"},
         QStringList{"Abort", "Ignore", "Retry"}},
    };
    // The language dialog also shows the icon in its picture 1044.
    auto languagePicture = [](QWidget &window) {
        auto *picture = window.findChild<QLabel *>("1044");
        return !picture || picture->pixmap().toImage() == ProgramIcon().pixmap(32, 32).toImage();
    };
    for (const bool english : {false, true}) {
        SetResourceModule(english ? EnglishResourceModule() : nullptr);
        for (const Case &c : cases) {
            const std::string what = std::string(c.what) + (english ? " (English)" : "");
            QStringList buttons;
            ShownWindows windows([&](QWidget &window) {
                buttons = PushButtonTexts(window);
                return languagePicture(window);
            });
            c.open();
            EXPECT_EQ(windows.shown, 1) << what;
            EXPECT_EQ(windows.withIcon, windows.shown) << what;
            EXPECT_EQ(windows.inspectedWell, 1) << what;
            if (const auto &expected = english ? c.english : c.russian) {
                EXPECT_EQ(buttons, *expected) << what;
            }
        }
    }
    SetResourceModule(nullptr);
}

// A box keeps a path whole on a line of its own while the box can be as
// wide as it (a wider one wraps rather than being cut at the box's edge); a
// box without one is left as plain text.
TEST(QtMessageBoxes, APathLineIsNeverBroken) {
    const auto width = [](const QString &line) { return int(line.size()) * 10; };
    const BoxText plain =
        MessageBoxText("Текст с <угловыми> скобками\n/ не путь\nслово", width, 1000);
    EXPECT_FALSE(plain.richText);
    EXPECT_EQ(plain.text.toStdString(), "Текст с <угловыми> скобками\n/ не путь\nслово");
    const std::string path = "/home/user/Загрузки/очень-длинная-папка/TelmarSetup2.3";
    for (const bool english : {false, true}) {
        SetResourceModule(english ? EnglishResourceModule() : nullptr);
        const BoxText box = MessageBoxText(FormatUiString(ui_text::kNoPackage, path), width, 1000);
        EXPECT_TRUE(box.richText) << english;
        EXPECT_TRUE(box.text.contains("<div style=\"white-space:pre\">" +
                                      QString::fromStdString(path) + "</div>"))
            << box.text.toStdString();
        EXPECT_EQ(box.text.count("white-space:pre\""), 1) << box.text.toStdString();
        // Too wide for any box: left to wrap.
        EXPECT_FALSE(
            MessageBoxText(FormatUiString(ui_text::kNoPackage, path), width, 100).richText);
    }
    SetResourceModule(nullptr);
    EXPECT_EQ(MessageBoxText("a\tb\n/x<y>\n\nc", width, 1000).text.toStdString(),
              "<div style=\"white-space:pre-wrap\">a\tb</div>"
              "<div style=\"white-space:pre\">/x&lt;y&gt;</div>"
              "<div style=\"white-space:pre-wrap\">&nbsp;</div>"
              "<div style=\"white-space:pre\">c</div>");
}

// The language dialog names the languages as the user's system does: in
// Russian on a Russian system, whatever the setup's own language.
TEST(SetupWindows, LanguageDialogNamesTheLanguagesInTheSystemsLanguage) {
    test::ScopedEnv env;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        env.Unset(name);
    const struct {
        const char *lang;
        QStringList names;
    } runs[] = {
        {"ru_RU.UTF-8", {"Русский (Россия)", "Английский (Соединенные Штаты)", "1234"}},
        {"en_US.UTF-8", {"Russian (Russia)", "English (United States)", "1234"}},
    };
    for (const auto &run : runs) {
        env.Set("LANG", run.lang);
        QStringList names;
        QString selected;
        ShownWindows windows([&](QWidget &window) {
            auto *list = window.findChild<QComboBox *>();
            for (int i = 0; list && i < list->count(); ++i)
                names << list->itemText(i);
            selected = list ? list->currentText() : QString();
            return list != nullptr;
        });
        ShowLanguageDialog({0x0419, 0x0409, 1234}, 0x0409, "Установка");
        EXPECT_EQ(windows.inspectedWell, 1) << run.lang;
        EXPECT_EQ(names, run.names) << run.lang;
        EXPECT_EQ(selected, run.names[1]) << run.lang;
    }
}

// Without a display a person can see (offscreen here), a web address goes
// to xdg-open, started through the run's programs: here recorded, not run.
TEST(QtSetupWindows, OpenUrlWithoutDisplayStartsXdgOpenThroughTheRunsPrograms) {
    std::vector<krv::platform::ProcessStartInfo> starts;
    const krv::platform::ProcessLauncher programs =
        [&starts](const krv::platform::ProcessStartInfo &info, bool) {
            starts.push_back(info);
            krv::platform::ProcessResult result;
            result.started = true;
            return result;
        };
    QtSetupWindows windows;
    EXPECT_TRUE(windows.OpenUrl("https://example.invalid/site?a=1", programs));
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].program, "xdg-open");
    EXPECT_EQ(starts[0].commandLine, "xdg-open https://example.invalid/site?a=1");
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
