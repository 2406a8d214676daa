#include "qt_message_boxes.h"

#include "program_icon.h"
#include "ui_dispatcher.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QThread>

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

int ShowQtBox(const MessageBoxRequest &request) {
    QMessageBox box(IconOf(request.style),
                    QString::fromStdString(request.defaultCaption ? DefaultMessageBoxCaption()
                                                                  : request.caption),
                    QString::fromStdString(WithoutCarriageReturns(request.text)),
                    ButtonsOf(request.style), qobject_cast<QWidget *>(request.owner));
    box.setWindowIcon(ProgramIcon());
    if (request.style & mb::kTopmost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return AnswerOf(box.exec(), request.style);
}

} // namespace

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
