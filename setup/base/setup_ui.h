// What the runner keeps for showing the setup: the caption, the status
// window that asks the user to wait, and the extraction progress window
// with its three interface parts.
//
// Windows come from the SetupWindows handed in (setup_windows.h), which
// shows them only while the user interface is visible on a real display.
// Silent and offscreen runs, and runs without windows, get the same calls
// without windows: the status text is only remembered, and the extraction
// sink is SilentExtractionProgress.
//
// Used from the user-interface (main) thread; the sinks it hands out may be
// called from workers.
#pragma once

#include "extraction_progress.h"
#include "messages.h"
#include "setup_windows.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace krv::setup {

// String id of the caption: "Установка %s" with the product name.
inline constexpr uint32_t kSetupCaptionId = 161;

class SetupUi {
  public:
    // Without windows (null) every window takes its windowless road. Boxes
    // and the extraction window's questions go through the messages.
    SetupUi(SetupWindows *windows, SetupMessages messages);
    ~SetupUi();
    SetupUi(const SetupUi &) = delete;
    SetupUi &operator=(const SetupUi &) = delete;

    // Stores the setup file's path and rebuilds the caption.
    void SetProductName(std::string_view setupFilePath);
    // String 161 with the "ProductName" version string of the stored file
    // (read once unless rebuild; the file's name when it has none).
    std::string GetSetupCaption(bool rebuild = false);
    // The product name the caption is built with.
    std::string GetProductName() {
        GetSetupCaption();
        return m_productName;
    }
    // Only while UiVisible: shows the status window over the active window
    // with the caption and the text of the id.
    void ShowStatusText(uint32_t id);
    void HideStatusWindow();
    // A box owned by the active window, brought to the foreground.
    int ShowMessageOnActiveWindow(const UiTextOrId &text, const std::optional<UiTextOrId> &caption,
                                  unsigned flags);
    // Created on first use and kept until released.
    ExtractionDialogParts GetExtractionProgressDialog();
    void ReleaseExtractionProgressDialog();

    // Where the run's boxes and debug output go.
    const SetupMessages &Messages() const { return m_messages; }
    void SetMessages(SetupMessages messages) { m_messages = std::move(messages); }

    // The windows handed in; null without.
    SetupWindows *Windows() const { return m_windows; }
    void SetWindows(SetupWindows *windows) { m_windows = windows; }
    // The window of a worker progress dialog; null when none is shown.
    std::unique_ptr<WorkerWindow> MakeWorkerWindow() {
        return m_windows ? m_windows->MakeWorkerWindow() : nullptr;
    }

    // What the status window shows; the text stays known while hidden.
    bool StatusShown() const { return m_statusShown; }
    const std::string &StatusText() const { return m_statusText; }

  private:
    std::string m_setupPath;
    std::string m_caption;
    std::string m_productName;
    bool m_productNameRead = false;
    bool m_statusShown = false;
    std::string m_statusText;
    SetupWindows *m_windows;
    SetupMessages m_messages;
    std::unique_ptr<ExtractionProgress> m_extraction;
};

} // namespace krv::setup
