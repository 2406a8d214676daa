// The one door through which the console shows message boxes, file dialogs
// and modal windows. Handlers never create QMessageBox or QFileDialog
// themselves: going through here keeps every box's caption, text, icon and
// buttons in one place, and lets tests script the answers (MessageScript).
//
// Texts are kept exactly as the handlers build them ("\r\n" line breaks
// included); the on-screen box shows them with plain line breaks.
#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace krv::console {

// The captions of the console's error and information boxes.
inline const QString kErrorBoxCaption = QStringLiteral("Ошибка!");
inline const QString kInformationBoxCaption = QStringLiteral("Информация");

enum class Icon { None, Information, Warning, Error, Question };
// YesNoDefaultNo: Yes and No with No the default, for questions whose Yes
// cannot be undone (Enter must not answer them).
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, YesNoDefaultNo };

// Answers, numbered as the classic message-box results.
enum MessageResult : int {
    kResultOk = 1,
    kResultCancel = 2,
    kResultYes = 6,
    kResultNo = 7,
};

// Shows a modal box and returns the button pressed. parent null: a box
// with no owner window, modal for the whole program.
int ShowMessage(QWidget *parent, const QString &caption, const QString &text,
                Icon icon = Icon::Information, Buttons buttons = Buttons::Ok);

// File dialogs; filter in the classic form "Text files (*.txt)|*.txt".
// An empty result means the operator cancelled.
QString GetOpenFileName(QWidget *parent, const QString &filter, const QString &initialName = {});
QString GetSaveFileName(QWidget *parent, const QString &filter, const QString &initialName = {},
                        const QString &defaultExtension = {});

// Shows `window` modally, centred on `centreOn` (or the screen when null),
// and returns when it is hidden again. For a QDialog the result is its
// result code (QDialog::Accepted / Rejected); otherwise 0.
int ExecModal(QWidget &window, QWidget *centreOn);

// The box ShowMessage shows on screen, made but not shown. A text is shown
// as it stands, never read as markup; lines holding tabs are set in
// columns: each run of such lines is one block, and the parts after a tab
// start at one x in their block, past the widest part before it (the names
// are padded with blanks so that their values line up, which a fixed tab
// width in a proportional font would not do).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget *parent, const QString &caption,
                                            const QString &text, Icon icon, Buttons buttons);

// The dialog GetOpenFileName or GetSaveFileName shows on screen, made but
// not shown: the toolkit's own dialog (never the desktop's), in the
// toolkit's language.
enum class FileDialogKind { Open, Save };
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget *parent, FileDialogKind kind,
                                            const QString &filter, const QString &initialName = {},
                                            const QString &defaultExtension = {});

// "A|b|C|d" -> "A (b);;C (d)"-style Qt filter; exposed for tests.
QString QtFileFilter(const QString &classicFilter);

struct MessageRecord {
    QWidget *parent = nullptr;
    QString caption;
    QString text;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
};

struct ModalRecord {
    QWidget *window = nullptr;
    QWidget *centreOn = nullptr;
};

// While an instance lives, nothing is shown on screen: every box is
// recorded and answered from `answers` (the first button when the queue is
// empty), file dialogs take `fileNames` (cancel when empty), and modal
// windows are shown, handed to the next `modalActions` entry (which plays
// the operator), then hidden. Without an action a modal window is closed as
// if by its frame. Instances nest; the newest one answers.
class MessageScript {
  public:
    MessageScript();
    ~MessageScript();
    MessageScript(const MessageScript &) = delete;
    MessageScript &operator=(const MessageScript &) = delete;

    std::vector<MessageRecord> messages;
    std::deque<int> answers;
    std::deque<QString> fileNames;
    std::vector<QString> fileFilters;      // filter of every file dialog asked for
    std::vector<QString> fileInitialNames; // the name each of them proposed
    std::deque<std::function<void(QWidget &)>> modalActions;
    std::vector<ModalRecord> modals;

    // The texts of the recorded boxes, in order (handy in expectations).
    QStringList Texts() const;

  private:
    MessageScript *m_previous;
};

} // namespace krv::console
