#include "log.h"
#include "messages.h"
#include "qt_message_boxes.h"
#include "support_offscreen.h"
#include "ui_strings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace krv::setup {
namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UiVisible = true;
        LoggingEnabled = false;
    }
    void TearDown() override {
        UiVisible = true;
        LoggingEnabled = false;
    }
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    std::vector<std::string> m_debug;
    SetupMessages m_messages{m_boxes,
                             [this](std::string_view text) { m_debug.emplace_back(text); }};
};

TEST_F(MessagesTest, TextsAndCaptionsMayBeStringIds) {
    m_messages.MessageBoxFromStrings(nullptr, 129, UiTextOrId(140), mb::kOk);
    m_messages.MessageBoxFromStrings(nullptr, "plain text", UiTextOrId("My caption"),
                                     mb::kIconWarning);
    m_messages.MessageBoxFromStrings(nullptr, "no caption", std::nullopt, mb::kOk);
    m_messages.MessageBoxFromStrings(nullptr, "id zero caption", UiTextOrId(0), mb::kOk);
    m_messages.MessageBoxForeground(nullptr, "empty caption", UiTextOrId(""), mb::kOk);
    const auto shown = m_boxes->Shown();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].text, LoadUiString(129));
    EXPECT_FALSE(shown[0].text.empty());
    EXPECT_EQ(shown[0].caption, LoadUiString(140));
    EXPECT_FALSE(shown[0].defaultCaption);
    EXPECT_EQ(shown[1].text, "plain text");
    EXPECT_EQ(shown[1].caption, "My caption");
    EXPECT_EQ(shown[1].style, mb::kIconWarning);
    for (std::size_t i = 2; i < 5; ++i)
        EXPECT_TRUE(shown[i].defaultCaption) << shown[i].text;
}

TEST_F(MessagesTest, ScriptAnswersThenDefaultAnswers) {
    m_boxes->Answer(answer::kYes);
    EXPECT_EQ(m_messages.MessageBoxFromStrings(nullptr, "q", std::nullopt, mb::kYesNo),
              answer::kYes);
    EXPECT_EQ(m_messages.MessageBoxFromStrings(nullptr, "q", std::nullopt, mb::kYesNo),
              answer::kNo);
    EXPECT_EQ(DefaultMessageBoxAnswer(mb::kOk | mb::kIconError), answer::kOk);
    EXPECT_EQ(DefaultMessageBoxAnswer(mb::kOkCancel), answer::kCancel);
    EXPECT_EQ(DefaultMessageBoxAnswer(mb::kRetryCancel), answer::kCancel);
    EXPECT_EQ(DefaultMessageBoxAnswer(mb::kYesNoCancel), answer::kCancel);
    EXPECT_EQ(DefaultMessageBoxAnswer(mb::kAbortRetryIgnore), answer::kAbort);
}

TEST_F(MessagesTest, ReportErrorShowsAnErrorBoxOrGoesToDebugOutput) {
    m_messages.ReportError("Something failed", true);
    m_messages.ReportError("Second", false);
    auto shown = m_boxes->Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Something failed");
    EXPECT_TRUE(shown[0].defaultCaption);
    EXPECT_EQ(shown[0].style, mb::kIconError | mb::kTopmost);
    EXPECT_EQ(shown[1].style, mb::kIconError);
    EXPECT_TRUE(m_debug.empty());

    UiVisible = false;
    m_messages.ReportMessageId(204, true);
    EXPECT_EQ(m_boxes->Shown().size(), 2u);
    ASSERT_EQ(m_debug.size(), 1u);
    EXPECT_EQ(m_debug[0], LoadUiString(204));
}

TEST_F(MessagesTest, ReportErrorLogsWhenLoggingIsOn) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("krv_messages_" + std::to_string(::getpid()) + ".log");
    std::filesystem::remove(path);
    SetLogFilePath(path.string());
    LoggingEnabled = true;
    m_messages.ReportError("Logged failure", false);
    CloseLog(TheSetupLog(), false);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("-Logged failure\r\n"), std::string::npos);
    std::filesystem::remove(path);
}

TEST_F(MessagesTest, ResultCodesMapToTheirMessages) {
    EXPECT_EQ(ResultCodeMessageId(result_code::kOk), 0u);
    EXPECT_EQ(ResultCodeMessageId(result_code::kNothingToReport), 0u);
    EXPECT_EQ(ResultCodeMessageId(result_code::kReadFailed), 132u);
    EXPECT_EQ(ResultCodeMessageId(result_code::kCorruptArchive), 129u);
    EXPECT_EQ(ResultCodeMessageId(result_code::kWrongArchiveVersion), 130u);
    EXPECT_EQ(ResultCodeMessageId(result_code::kInstallerStartFailed), 131u);
    for (int code : {3, 4, 14, 15, 99, -1})
        EXPECT_EQ(ResultCodeMessageId(code), 133u) << code;

    m_messages.ReportResultCode(0);
    m_messages.ReportResultCode(10);
    EXPECT_TRUE(m_boxes->Shown().empty());
    m_messages.ReportResultCode(5);
    ASSERT_EQ(m_boxes->Shown().size(), 1u);
    EXPECT_EQ(m_boxes->Shown()[0].text, LoadUiString(129));
    EXPECT_EQ(m_boxes->Shown()[0].style, mb::kIconError);
}

TEST_F(MessagesTest, DiskSpaceQuestionRetriesUntilSpaceOrCancel) {
    int checks = 0;
    auto freedOnSecondCheck = [&checks](std::string_view path, uint64_t needed) {
        EXPECT_EQ(path, "/data/target");
        EXPECT_EQ(needed, 5000000000ull);
        return ++checks >= 2;
    };
    m_boxes->Answer(answer::kRetry);
    m_boxes->Answer(answer::kRetry);
    EXPECT_TRUE(m_messages.AskRetryForDiskSpace("/data/target", 5000000000ull, freedOnSecondCheck));
    EXPECT_EQ(checks, 2);
    const auto shown = m_boxes->Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].style, mb::kRetryCancel | mb::kIconError);
    EXPECT_EQ(shown[0].text, FormatUiString(219, std::string("/data/target")));
    EXPECT_NE(shown[0].text.find("/data/target"), std::string::npos);

    m_boxes->Clear();
    m_boxes->Answer(answer::kCancel);
    EXPECT_FALSE(
        m_messages.AskRetryForDiskSpace("/data/target", 5000000000ull, freedOnSecondCheck));
    EXPECT_EQ(m_boxes->Shown().size(), 1u);

    // Nobody to answer: the default answer cancels instead of looping.
    m_boxes->Clear();
    EXPECT_FALSE(m_messages.AskRetryForDiskSpace("/data/target", 1,
                                                 [](std::string_view, uint64_t) { return false; }));

    UiVisible = false;
    m_boxes->Clear();
    EXPECT_FALSE(m_messages.AskRetryForDiskSpace("/data/target", 1, freedOnSecondCheck));
    EXPECT_TRUE(m_boxes->Shown().empty());
}

TEST_F(MessagesTest, CopiesShareTheirPresenterAndSinkWhileOtherSetsStayApart) {
    const SetupMessages copy = m_messages;
    copy.ReportError("from the copy", false);
    UiVisible = false;
    copy.ReportError("hidden", false);
    ASSERT_EQ(m_boxes->Shown().size(), 1u);
    EXPECT_EQ(m_boxes->Shown()[0].text, "from the copy");
    EXPECT_EQ(m_debug, std::vector<std::string>{"hidden"});

    // A second run's set reaches neither this presenter nor this sink.
    auto otherBoxes = std::make_shared<ScriptedMessageBoxes>();
    std::vector<std::string> otherDebug;
    const SetupMessages other(
        otherBoxes, [&otherDebug](std::string_view text) { otherDebug.emplace_back(text); });
    other.OutputDebugText("other run");
    UiVisible = true;
    other.MessageBoxFromStrings(nullptr, "other box", std::nullopt, mb::kOk);
    EXPECT_EQ(m_boxes->Shown().size(), 1u);
    EXPECT_EQ(m_debug.size(), 1u);
    EXPECT_EQ(otherDebug, std::vector<std::string>{"other run"});
    EXPECT_EQ(otherBoxes->Shown().size(), 1u);
}

TEST_F(MessagesTest, DebugLinesFromWorkersArriveWhole) {
    // The sink appends without a lock of its own: the set serialises it.
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([this, w] {
            for (int i = 0; i < 200; ++i)
                m_messages.OutputDebugText("worker " + std::to_string(w));
        });
    for (std::thread &worker : workers)
        worker.join();
    ASSERT_EQ(m_debug.size(), 800u);
    for (const std::string &line : m_debug)
        EXPECT_EQ(line.rfind("worker ", 0), 0u) << line;
}

TEST(MessagePresenter, WithoutPresenterOrSinkBoxesPrintToOutputAndDebugToErrors) {
    const SetupMessages messages;
    ::testing::internal::CaptureStdout();
    const int reply = messages.MessageBoxFromStrings(nullptr, "Line one\r\nLine two",
                                                     UiTextOrId("Caption"), mb::kRetryCancel);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(reply, answer::kCancel);
    EXPECT_EQ(out, "Caption\n\nLine one\nLine two\n");

    ::testing::internal::CaptureStderr();
    messages.OutputDebugText("debug line");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "debug line\n");
}

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool onTop = false;
    int buttons = 0;
};

// Waits on the event loop for the box to appear, notes what it shows and
// presses one of its buttons.
void PressWhenShown(QMessageBox::StandardButton press, SeenBox &seen) {
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, press, &seen] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            seen.buttons = static_cast<int>(box->standardButtons());
            timer->stop();
            timer->deleteLater();
            box->button(press)->click();
            return;
        }
    });
    timer->start();
}

TEST(QtPresenter, ShowsTheBoxOnTheInterfaceThreadAndMapsTheAnswer) {
    test::OffscreenApplication offscreen("test_messages");
    QApplication &app = offscreen.App();
    QtMessageBoxPresenter presenter;

    MessageBoxRequest request;
    request.defaultCaption = true;
    request.text = "Line one\r\nLine two";
    request.style = mb::kRetryCancel | mb::kIconError | mb::kTopmost;
    SeenBox seen;
    PressWhenShown(QMessageBox::Retry, seen);
    EXPECT_EQ(presenter.Show(request), answer::kRetry);
    EXPECT_EQ(seen.title, QString::fromUtf8("Ошибка"));
    EXPECT_EQ(seen.text, QStringLiteral("Line one\nLine two"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_TRUE(seen.onTop);
    EXPECT_EQ(seen.buttons, static_cast<int>(QMessageBox::Retry | QMessageBox::Cancel));

    // From a worker: the box runs on the interface thread while it processes
    // events, and the worker gets the answer.
    MessageBoxRequest question;
    question.caption = "Вопрос";
    question.text = "Продолжить?";
    question.style = mb::kYesNo | mb::kIconQuestion;
    SeenBox seenFromWorker;
    PressWhenShown(QMessageBox::No, seenFromWorker);
    int workerAnswer = answer::kNone;
    std::thread worker([&] {
        workerAnswer = presenter.Show(question);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    worker.join();
    EXPECT_EQ(workerAnswer, answer::kNo);
    EXPECT_EQ(seenFromWorker.title, QString::fromUtf8("Вопрос"));
    EXPECT_EQ(seenFromWorker.icon, QMessageBox::Question);
    EXPECT_FALSE(seenFromWorker.onTop);
}

} // namespace
} // namespace krv::setup
