#include "messages.h"

#include "files.h"
#include "log.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <iostream>

namespace krv::setup {

namespace {

std::string Resolve(const UiTextOrId &value) {
    return value.isId ? LoadUiString(value.id) : value.text;
}

} // namespace

std::string DefaultMessageBoxCaption() {
    return LoadUiString(ui_text::kErrorCaption);
}

std::string WithoutCarriageReturns(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    return out;
}

int DefaultMessageBoxAnswer(unsigned style) {
    switch (style & mb::kButtonsMask) {
    case mb::kOkCancel:
    case mb::kYesNoCancel:
    case mb::kRetryCancel:
        return answer::kCancel;
    case mb::kAbortRetryIgnore:
        return answer::kAbort;
    case mb::kYesNo:
        return answer::kNo;
    default:
        return answer::kOk;
    }
}

int ConsoleMessageBoxPresenter::Show(const MessageBoxRequest &request) {
    const std::string caption =
        request.defaultCaption ? DefaultMessageBoxCaption() : request.caption;
    std::cout << caption << "\n\n" << WithoutCarriageReturns(request.text) << "\n" << std::flush;
    return DefaultMessageBoxAnswer(request.style);
}

int ScriptedMessageBoxes::Show(const MessageBoxRequest &request) {
    std::function<void(const MessageBoxRequest &)> look;
    {
        std::lock_guard guard(m_lock);
        m_shown.push_back(request);
        look = m_look;
    }
    if (look)
        look(request);
    std::lock_guard guard(m_lock);
    if (m_script.empty())
        return DefaultMessageBoxAnswer(request.style);
    const int reply = m_script.front();
    m_script.pop_front();
    return reply;
}

void ScriptedMessageBoxes::WhenShown(std::function<void(const MessageBoxRequest &)> look) {
    std::lock_guard guard(m_lock);
    m_look = std::move(look);
}

void ScriptedMessageBoxes::Answer(int reply) {
    std::lock_guard guard(m_lock);
    m_script.push_back(reply);
}

std::vector<MessageBoxRequest> ScriptedMessageBoxes::Shown() const {
    std::lock_guard guard(m_lock);
    return m_shown;
}

void ScriptedMessageBoxes::Clear() {
    std::lock_guard guard(m_lock);
    m_shown.clear();
    m_script.clear();
}

struct SetupMessages::Shared {
    std::shared_ptr<MessageBoxPresenter> presenter;
    DebugSink debugSink;
    // Serialises debug lines: reports come from workers as well as the
    // user-interface thread, and a sink need not guard itself.
    std::mutex debugLock;
};

SetupMessages::SetupMessages(std::shared_ptr<MessageBoxPresenter> presenter, DebugSink debugSink)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->presenter =
        presenter ? std::move(presenter) : std::make_shared<ConsoleMessageBoxPresenter>();
    m_shared->debugSink = std::move(debugSink);
}

void SetupMessages::OutputDebugText(std::string_view text) const {
    std::lock_guard guard(m_shared->debugLock);
    if (m_shared->debugSink) {
        m_shared->debugSink(text);
        return;
    }
    std::cerr << text << '\n' << std::flush;
}

namespace {

MessageBoxRequest RequestFromStrings(QObject *owner, const UiTextOrId &text,
                                     const std::optional<UiTextOrId> &caption, unsigned style) {
    MessageBoxRequest request;
    request.owner = owner;
    request.text = Resolve(text);
    request.style = style;
    if (!caption || (caption->isId && caption->id == 0))
        request.defaultCaption = true;
    else
        request.caption = Resolve(*caption);
    return request;
}

} // namespace

int SetupMessages::MessageBoxFromStrings(QObject *owner, const UiTextOrId &text,
                                         const std::optional<UiTextOrId> &caption,
                                         unsigned style) const {
    return m_shared->presenter->Show(RequestFromStrings(owner, text, caption, style));
}

int SetupMessages::MessageBoxForeground(QObject *owner, const UiTextOrId &text,
                                        const std::optional<UiTextOrId> &caption,
                                        unsigned style) const {
    std::optional<UiTextOrId> shownCaption = caption;
    if (shownCaption && !shownCaption->isId && shownCaption->text.empty())
        shownCaption.reset();
    MessageBoxRequest request = RequestFromStrings(owner, text, shownCaption, style);
    request.foreground = true;
    const int result = m_shared->presenter->Show(request);
    if (owner) {
        // The owner comes to the front again, whoever showed the box. A
        // window is only touched on its own thread: from a worker the call
        // is carried there (and dropped when the window is gone).
        auto raise = [owner] { QMetaObject::invokeMethod(owner, "raise", Qt::DirectConnection); };
        if (QThread::currentThread() == owner->thread())
            raise();
        else
            UiDispatcher::Post(owner, raise);
    }
    return result;
}

void SetupMessages::ReportError(std::string_view text, bool topmost) const {
    LogLine(text);
    if (UiVisible) {
        MessageBoxForeground(nullptr, UiTextOrId(text), std::nullopt,
                             mb::kIconError | (topmost ? mb::kTopmost : 0u));
    } else {
        OutputDebugText(text);
    }
}

void SetupMessages::ReportMessageId(uint32_t id, bool topmost) const {
    ReportError(LoadUiString(id), topmost);
}

uint32_t ResultCodeMessageId(int code) {
    switch (code) {
    case result_code::kOk:
    case result_code::kNothingToReport:
        return 0;
    case result_code::kReadFailed:
        return 132;
    case result_code::kCorruptArchive:
        return 129;
    case result_code::kWrongArchiveVersion:
        return 130;
    case result_code::kInstallerStartFailed:
        return 131;
    default:
        return 133;
    }
}

void SetupMessages::ReportResultCode(int code) const {
    if (const uint32_t id = ResultCodeMessageId(code))
        ReportMessageId(id, false);
}

bool SetupMessages::AskRetryForDiskSpace(
    std::string_view path, uint64_t needed,
    const std::function<bool(std::string_view, uint64_t)> &hasSpace) const {
    if (!UiVisible)
        return false;
    for (;;) {
        const std::string text = FormatUiString(ui_text::kNoSpaceInFolder, std::string(path));
        const int reply = MessageBoxForeground(nullptr, UiTextOrId(text), std::nullopt,
                                               mb::kRetryCancel | mb::kIconError);
        if (reply != answer::kRetry)
            return false;
        const bool enough = hasSpace ? hasSpace(path, needed) : HasEnoughDiskSpace(path, needed);
        if (enough)
            return true;
    }
}

} // namespace krv::setup
