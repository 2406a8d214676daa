#include "qt_message_boxes.h"

#include "program_icon.h"
#include "ui_dispatcher.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QString>
#include <QThread>

#include <algorithm>
#include <vector>

namespace krv::setup {

namespace {

QMessageBox::StandardButtons ButtonsOf(unsigned style) {
    switch (style & mb::kButtonsMask) {
    case mb::kOkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case mb::kAbortRetryIgnore:
        return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case mb::kYesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case mb::kYesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case mb::kRetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    default:
        return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconOf(unsigned style) {
    switch (style & mb::kIconMask) {
    case mb::kIconError:
        return QMessageBox::Critical;
    case mb::kIconQuestion:
        return QMessageBox::Question;
    case mb::kIconWarning:
        return QMessageBox::Warning;
    case mb::kIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int AnswerOf(int button, unsigned style) {
    switch (button) {
    case QMessageBox::Ok:
        return answer::kOk;
    case QMessageBox::Cancel:
        return answer::kCancel;
    case QMessageBox::Abort:
        return answer::kAbort;
    case QMessageBox::Retry:
        return answer::kRetry;
    case QMessageBox::Ignore:
        return answer::kIgnore;
    case QMessageBox::Yes:
        return answer::kYes;
    case QMessageBox::No:
        return answer::kNo;
    default:
        return DefaultMessageBoxAnswer(style);
    }
}

bool HasNoBlank(const QString &line) {
    return !line.isEmpty() && !line.contains(QLatin1Char(' ')) && !line.contains(QLatin1Char('\t'));
}

// The widest line a box can show: the toolkit bounds a box's width by the
// screen's (all of a small screen, else 480 pixels less, at most 1000),
// and its icon and margins take their part.
int WidestBoxLine(const QWidget &box) {
    const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    const int boxWidth = screenWidth <= 1024 ? screenWidth : std::min(screenWidth - 480, 1000);
    return boxWidth - 120;
}

int ShowQtBox(const MessageBoxRequest &request) {
    QMessageBox box(IconOf(request.style),
                    QString::fromStdString(request.defaultCaption ? DefaultMessageBoxCaption()
                                                                  : request.caption),
                    QString(), ButtonsOf(request.style), qobject_cast<QWidget *>(request.owner));
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    const QFontMetrics metrics = label ? label->fontMetrics() : box.fontMetrics();
    const BoxText text = MessageBoxText(
        WithoutCarriageReturns(request.text),
        [&metrics](const QString &line) { return metrics.horizontalAdvance(line); },
        WidestBoxLine(box));
    box.setTextFormat(text.richText ? Qt::RichText : Qt::PlainText);
    box.setText(text.text);
    box.setWindowIcon(ProgramIcon());
    if (request.style & mb::kTopmost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return AnswerOf(box.exec(), request.style);
}

} // namespace

BoxText MessageBoxText(const std::string &text,
                       const std::function<int(const QString &)> &lineWidth, int maxWidth) {
    BoxText out;
    out.text = QString::fromStdString(text);
    const QStringList lines = out.text.split(QLatin1Char('\n'));
    std::vector<bool> whole;
    for (const QString &line : lines) {
        const int width = HasNoBlank(line) ? lineWidth(line) : 0;
        whole.push_back(HasNoBlank(line) && width <= maxWidth);
        if (whole.back() && line.contains(QLatin1Char('/')))
            out.richText = true;
    }
    if (!out.richText)
        return out;
    // One block per line: the toolkit keeps a line whole only as a block of
    // its own ("pre"); the others keep their tabs and wrap ("pre-wrap").
    QString html;
    for (qsizetype i = 0; i < lines.size(); ++i)
        html += QStringLiteral("<div style=\"white-space:%1\">%2</div>")
                    .arg(whole[std::size_t(i)] ? QStringLiteral("pre") : QStringLiteral("pre-wrap"),
                         lines[i].isEmpty() ? QStringLiteral("&nbsp;") : lines[i].toHtmlEscaped());
    out.text = html;
    return out;
}

int QtMessageBoxPresenter::Show(const MessageBoxRequest &shown) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return ConsoleMessageBoxPresenter().Show(shown);
    MessageBoxRequest request = shown;
    const bool onInterfaceThread = QThread::currentThread() == app->thread();
    // A foreground box without an owner belongs to the active window, which
    // comes forward with it.
    if (request.foreground && !request.owner && onInterfaceThread &&
        qobject_cast<QApplication *>(app))
        request.owner = QApplication::activeWindow();
    int result = answer::kNone;
    if (onInterfaceThread)
        result = ShowQtBox(request);
    else
        QMetaObject::invokeMethod(
            app, [&result, &request] { result = ShowQtBox(request); },
            Qt::BlockingQueuedConnection);
    if (request.foreground && qobject_cast<QWidget *>(request.owner)) {
        // The owner is activated (MessageBoxForeground raises it). A window
        // is only touched on its own thread: from a worker the call is
        // carried there (and dropped when the window is gone).
        QWidget *owner = qobject_cast<QWidget *>(request.owner);
        auto bringToFront = [owner] { owner->activateWindow(); };
        if (onInterfaceThread)
            bringToFront();
        else
            UiDispatcher::Post(owner, bringToFront);
    }
    return result;
}

bool QtDisplayAvailable() {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace krv::setup
