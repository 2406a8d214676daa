#include "message_layer.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <vector>

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

    const std::unique_ptr<QMessageBox> box = MakeMessageBox(parent, caption, text, icon, buttons);
    switch (box->exec()) {
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

namespace {

// Blanks that neither collapse nor break: the names' padding keeps its width.
QString HtmlCell(const QString &part) {
    QString html = part.toHtmlEscaped();
    html.replace(QLatin1Char(' '), QLatin1String("&nbsp;"));
    return html.isEmpty() ? QStringLiteral("&nbsp;") : html;
}

// Gap between a column and the next, for a name padded with no blank.
constexpr int kColumnGap = 8;

// `text` as rich text: lines without a tab as lines, each run of lines with
// tabs as one table whose columns are the parts between the tabs.
QString ColumnsHtml(const QString &text) {
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.remove(QLatin1Char('\r'));
    const QStringList lines = plain.split(QLatin1Char('\n'));
    QString html;
    for (qsizetype i = 0; i < lines.size();) {
        if (!lines[i].contains(QLatin1Char('\t'))) {
            html += QStringLiteral("<p style=\"margin:0\">") + HtmlCell(lines[i]) +
                    QStringLiteral("</p>");
            ++i;
            continue;
        }
        std::vector<QStringList> rows;
        qsizetype columns = 0;
        for (; i < lines.size() && lines[i].contains(QLatin1Char('\t')); ++i) {
            rows.push_back(lines[i].split(QLatin1Char('\t')));
            columns = std::max(columns, rows.back().size());
        }
        html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"0\" style=\"margin:0\">");
        for (const QStringList &row : rows) {
            html += QStringLiteral("<tr>");
            for (qsizetype c = 0; c < columns; ++c) {
                // A cell never wraps: a narrow box grows rather than break a value.
                const int gap = c + 1 < columns ? kColumnGap : 0;
                html += QStringLiteral("<td style=\"white-space:nowrap; padding-right:%1px\">")
                            .arg(gap) +
                        HtmlCell(c < row.size() ? row[c] : QString()) + QStringLiteral("</td>");
            }
            html += QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
    }
    return html;
}

} // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget *parent, const QString &caption,
                                            const QString &text, Icon icon, Buttons buttons) {
    auto box = std::make_unique<QMessageBox>(ToQtIcon(icon), caption, QString(),
                                             QMessageBox::NoButton, parent);
    // Texts come from the device and the operator too: shown as they stand.
    if (text.contains(QLatin1Char('\t'))) {
        box->setTextFormat(Qt::RichText);
        box->setText(ColumnsHtml(text));
    } else {
        box->setTextFormat(Qt::PlainText);
        box->setText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    }
    switch (buttons) {
    case Buttons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoDefaultNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    return box;
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

QString ExecFileDialog(std::unique_ptr<QFileDialog> dialog) {
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().constFirst();
}

} // namespace

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget *parent, FileDialogKind kind,
                                            const QString &filter, const QString &initialName,
                                            const QString &defaultExtension) {
    auto dialog =
        std::make_unique<QFileDialog>(parent, QString(), initialName, QtFileFilter(filter));
    // The toolkit's own dialog: it speaks the console's language, which a
    // desktop's dialog need not.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    if (kind == FileDialogKind::Save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        if (!defaultExtension.isEmpty())
            dialog->setDefaultSuffix(defaultExtension);
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    if (!initialName.isEmpty())
        dialog->selectFile(initialName);
    return dialog;
}

QString GetOpenFileName(QWidget *parent, const QString &filter, const QString &initialName) {
    if (g_script)
        return ScriptedFileName(filter, initialName);
    return ExecFileDialog(MakeFileDialog(parent, FileDialogKind::Open, filter, initialName));
}

QString GetSaveFileName(QWidget *parent, const QString &filter, const QString &initialName,
                        const QString &defaultExtension) {
    if (g_script)
        return ScriptedFileName(filter, initialName);
    return ExecFileDialog(
        MakeFileDialog(parent, FileDialogKind::Save, filter, initialName, defaultExtension));
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
