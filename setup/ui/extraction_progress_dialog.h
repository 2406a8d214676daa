// The extraction progress window: ExtractionProgress shown in a
// ProgressWindow. Created and shown on the user-interface thread; the
// worker's calls reach the window as posted updates.
#pragma once

#include "extraction_progress.h"

#include <QPointer>

#include <atomic>
#include <string>

namespace krv::setup {

class ProgressWindow;

class ExtractionProgressDialog : public ExtractionProgress {
  public:
    // The caption is the setup's caption.
    explicit ExtractionProgressDialog(std::string caption, SetupMessages messages);
    // A window that still exists is ended with 1.
    ~ExtractionProgressDialog() override;

    ProgressWindow *Window() const { return m_window; }

  protected:
    int RunWindow() override;
    void EndWindow(int result) override;
    void ShowRange(uint32_t range) override;
    void ShowPosition(uint32_t position) override;
    void ShowTexts(const Texts &texts) override;

  private:
    QPointer<ProgressWindow> m_window;
    std::string m_caption;
    std::atomic<uint32_t> m_range{0};
    std::atomic<bool> m_shown{false};
};

} // namespace krv::setup
