// Errors and questions shown to the user: message boxes built from texts or
// string-table ids, the report helpers every setup module uses, the mapping
// of operation result codes to messages, and the disk-space question.
//
// Boxes go through a presenter so that they work with and without a display:
// - the program on a real display hands in QMessageBox (ui/qt_message_boxes.h);
// - without one (no QApplication, or the "offscreen"/"minimal" platform, as
//   in tests and on headless machines) the box is printed to standard output
//   and answered at once with its safe answer (DefaultMessageBoxAnswer), so
//   nothing waits for a person who cannot answer;
// - tests hand in ScriptedMessageBoxes to see every box and answer it.
// The presenter and the debug output travel together in SetupMessages.
// When UiVisible is cleared (silent run) reports go to the debug output
// (standard error) instead of a box.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QObject;

namespace krv::setup {

// Result codes of setup operations (extraction, settings and file reads).
namespace result_code {
inline constexpr int kOk = 0;
inline constexpr int kReadFailed = 2;
inline constexpr int kOutOfMemory = 3;
inline constexpr int kNoModuleName = 4;
inline constexpr int kCorruptArchive = 5;
inline constexpr int kWrongArchiveVersion = 6;
inline constexpr int kInstallerStartFailed = 7;
inline constexpr int kNothingToReport = 10;
inline constexpr int kTargetFailed = 14;
inline constexpr int kCancelled = 15;
} // namespace result_code

// Box styles and answers, with the values of the Windows message box, which
// the other setup modules and the string texts were written against.
namespace mb {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kOkCancel = 0x1;
inline constexpr unsigned kAbortRetryIgnore = 0x2;
inline constexpr unsigned kYesNoCancel = 0x3;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kRetryCancel = 0x5;
inline constexpr unsigned kButtonsMask = 0xF;
inline constexpr unsigned kIconError = 0x10;
inline constexpr unsigned kIconQuestion = 0x20;
inline constexpr unsigned kIconWarning = 0x30;
inline constexpr unsigned kIconInformation = 0x40;
inline constexpr unsigned kIconMask = 0xF0;
inline constexpr unsigned kTopmost = 0x40000;
} // namespace mb

namespace answer {
inline constexpr int kNone = 0; // no box was shown
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kAbort = 3;
inline constexpr int kRetry = 4;
inline constexpr int kIgnore = 5;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
} // namespace answer

// The caption of a box shown without one, in the interface's language.
std::string DefaultMessageBoxCaption();

// A text given directly or as a string-table id.
struct UiTextOrId {
    UiTextOrId(int stringId) : id(static_cast<uint32_t>(stringId)), isId(true) {}
    UiTextOrId(uint32_t stringId) : id(stringId), isId(true) {}
    UiTextOrId(std::string value) : text(std::move(value)) {}
    UiTextOrId(std::string_view value) : text(value) {}
    UiTextOrId(const char *value) : text(value ? value : "") {}
    std::string text;
    uint32_t id = 0;
    bool isId = false;
};

struct MessageBoxRequest {
    QObject *owner = nullptr;
    std::string caption;         // DefaultMessageBoxCaption() when defaultCaption
    bool defaultCaption = false; // shown without a caption of its own
    std::string text;
    unsigned style = mb::kOk;
    bool foreground = false; // owned by the active window without an owner,
                             // which comes forward with it
};

class MessageBoxPresenter {
  public:
    virtual ~MessageBoxPresenter() = default;
    // Shows the box and returns the answer (an answer:: value).
    virtual int Show(const MessageBoxRequest &request) = 0;
};

// The answer a box gets when nobody can answer it: OK for a box with only
// OK, else the answer that stops (Cancel, No, Abort).
int DefaultMessageBoxAnswer(unsigned style);

// Prints caption and text to standard output and gives the default answer.
class ConsoleMessageBoxPresenter : public MessageBoxPresenter {
  public:
    int Show(const MessageBoxRequest &request) override;
};

// For tests: records every box and answers from a script; once the script
// is used up, boxes get DefaultMessageBoxAnswer.
class ScriptedMessageBoxes : public MessageBoxPresenter {
  public:
    int Show(const MessageBoxRequest &request) override;
    void Answer(int answer); // appends to the script
    // Called with each box while it is "shown" (before it is answered), to
    // look at the windows behind it.
    void WhenShown(std::function<void(const MessageBoxRequest &)> look);
    std::vector<MessageBoxRequest> Shown() const;
    void Clear();

  private:
    mutable std::mutex m_lock;
    std::deque<int> m_script;
    std::vector<MessageBoxRequest> m_shown;
    std::function<void(const MessageBoxRequest &)> m_look;
};

// The text with its CR LF line ends as LF.
std::string WithoutCarriageReturns(std::string_view text);

// The string id SetupMessages::ReportResultCode shows for a code; 0 for none.
uint32_t ResultCodeMessageId(int code);

// Where one run's boxes and debug output go. The program builds one (with
// the Qt presenter on a real display) and hands copies to every module that
// reports; tests build their own with ScriptedMessageBoxes and a sink, so no
// run ever reaches another's presenter. Copies share the presenter, the sink
// and the lock that keeps workers' debug lines whole, so a copy may be called
// from any thread, as the original.
class SetupMessages {
  public:
    using DebugSink = std::function<void(std::string_view)>;

    // A null presenter prints boxes on the console (ConsoleMessageBoxPresenter);
    // an empty sink writes debug text to standard error.
    SetupMessages() : SetupMessages(nullptr) {}
    explicit SetupMessages(std::shared_ptr<MessageBoxPresenter> presenter,
                           DebugSink debugSink = {});
    // Copies share the presenter, the sink and the lock. There is no move: a
    // set moved from would be empty, and one handed on with std::move (in the
    // same call as a module that copies it) must stay usable.
    SetupMessages(const SetupMessages &) = default;
    SetupMessages &operator=(const SetupMessages &) = default;

    // A box from texts or string ids. A caption id of 0 or no caption shows
    // the default caption.
    int MessageBoxFromStrings(QObject *owner, const UiTextOrId &text,
                              const std::optional<UiTextOrId> &caption, unsigned style) const;
    // The same, owned by the active window when no owner is given; an empty
    // caption text also shows the default caption.
    int MessageBoxForeground(QObject *owner, const UiTextOrId &text,
                             const std::optional<UiTextOrId> &caption, unsigned style) const;

    // Logs the text (with logging on), then shows it in an error box without
    // a caption of its own (topmost when asked) or, with the user interface
    // hidden, writes it to the debug output. The caller decides what follows.
    void ReportError(std::string_view text, bool topmost) const;
    void ReportMessageId(uint32_t id, bool topmost) const;
    // 0 and 10 report nothing; 2, 5, 6 and 7 have messages of their own;
    // every other code reports the general extraction error.
    void ReportResultCode(int code) const;

    // Asks to free space at the path until HasEnoughDiskSpace allows `needed`
    // bytes (true) or the user cancels (false). False at once with the user
    // interface hidden. `hasSpace` replaces the free-space test (tests).
    bool AskRetryForDiskSpace(
        std::string_view path, uint64_t needed,
        const std::function<bool(std::string_view, uint64_t)> &hasSpace = {}) const;

    // Where reports go while the user interface is hidden.
    void OutputDebugText(std::string_view text) const;

  private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace krv::setup
