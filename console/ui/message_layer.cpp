#include "message_layer.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

namespace krv::console {

namespace {

MessageScript *g_script = nullptr;

QMessageBox::Icon ToQtIcon(Icon icon) {
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Error:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

int FirstButton(Buttons buttons) {
    return (buttons == Buttons::Ok || buttons == Buttons::OkCancel) ? kResultOk : kResultYes;
}

void CentreOn(QWidget &window, QWidget *centreOn) {
    QRect frame = window.frameGeometry();
    QRect area;
    if (centreOn)
        area = centreOn->frameGeometry();
    else if (QScreen *screen = window.screen())
        area = screen->availableGeometry();
    if (area.isValid()) {
        frame.moveCenter(area.center());
        window.move(frame.topLeft());
    }
}

// Ends a local event loop when the watched window is hidden or closed.
class HideWatcher : public QObject {
  public:
    HideWatcher(QWidget &window, QEventLoop &loop) : m_loop(loop) {
        window.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Hide || event->type() == QEvent::Close)
            m_loop.quit();
        return false;
    }

  private:
    QEventLoop &m_loop;
};

} // namespace

MessageScript::MessageScript() : m_previous(g_script) {
    g_script = this;
}

MessageScript::~MessageScript() {
    g_script = m_previous;
}

QStringList MessageScript::Texts() const {
    QStringList texts;
    for (const MessageRecord &record : messages)
        texts << record.text;
    return texts;
}

int ShowMessage(QWidget *parent, const QString &caption, const QString &text, Icon icon,
                Buttons buttons) {
    if (g_script) {
        g_script->messages.push_back({parent, caption, text, icon, buttons});
        if (g_script->answers.empty())
            return FirstButton(buttons);
        const int answer = g_script->answers.front();
        g_script->answers.pop_front();
        return answer;
    }

    QMessageBox box(ToQtIcon(icon), caption,
                    QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")),
                    QMessageBox::NoButton, parent);
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoDefaultNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return kResultOk;
    case QMessageBox::Yes:
        return kResultYes;
    case QMessageBox::No:
        return kResultNo;
    default:
        return kResultCancel;
    }
}

QString QtFileFilter(const QString &classicFilter) {
    const QStringList parts = classicFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // The description usually names its patterns already.
        filters << (parts[i].contains(QLatin1Char('('))
                        ? parts[i].section(QLatin1Char('('), 0, 0).trimmed()
                        : parts[i]) +
                       QLatin1String(" (") + patterns + QLatin1Char(')');
    }
    return filters.join(QLatin1String(";;"));
}

namespace {

QString ScriptedFileName(const QString &filter, const QString &initialName) {
    g_script->fileFilters.push_back(filter);
    g_script->fileInitialNames.push_back(initialName);
    if (g_script->fileNames.empty())
        return {};
    QString name = g_script->fileNames.front();
    g_script->fileNames.pop_front();
    return name;
}

} // namespace

QString GetOpenFileName(QWidget *parent, const QString &filter, const QString &initialName) {
    if (g_script)
        return ScriptedFileName(filter, initialName);
    return QFileDialog::getOpenFileName(parent, QString(), initialName, QtFileFilter(filter));
}

QString GetSaveFileName(QWidget *parent, const QString &filter, const QString &initialName,
                        const QString &defaultExtension) {
    if (g_script)
        return ScriptedFileName(filter, initialName);
    QFileDialog dialog(parent, QString(), initialName, QtFileFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!defaultExtension.isEmpty())
        dialog.setDefaultSuffix(defaultExtension);
    if (!initialName.isEmpty())
        dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

int ExecModal(QWidget &window, QWidget *centreOn) {
    auto *dialog = qobject_cast<QDialog *>(&window);
    if (g_script) {
        g_script->modals.push_back({&window, centreOn});
        if (dialog)
            dialog->setResult(QDialog::Rejected);
        window.show();
        if (!g_script->modalActions.empty()) {
            auto action = std::move(g_script->modalActions.front());
            g_script->modalActions.pop_front();
            action(window);
        }
        if (window.isVisible())
            window.close(); // as if closed by its frame
        return dialog ? dialog->result() : 0;
    }

    if (dialog) {
        CentreOn(window, centreOn);
        return dialog->exec();
    }
    const Qt::WindowModality previous = window.windowModality();
    window.setWindowModality(Qt::ApplicationModal);
    CentreOn(window, centreOn);
    QEventLoop loop;
    HideWatcher watcher(window, loop);
    window.show();
    if (window.isVisible())
        loop.exec(QEventLoop::DialogExec);
    window.setWindowModality(previous);
    return 0;
}

} // namespace krv::console
