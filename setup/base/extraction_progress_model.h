// The counting behind the extraction progress window, without widgets: the
// bar's range and position from 64-bit byte counts, step mode, and the texts
// the line above the bar shows. The window and the no-window sink both keep
// one of these; the caller serialises the calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krv::setup {

// String ids of the extraction texts.
namespace extraction_text {
inline constexpr uint32_t kAllFiles = 200; // "Извлечение файлов из архива..."
inline constexpr uint32_t kOneFile = 201;   // "Извлечение файла в %s"
inline constexpr uint32_t kStepFile = 218;  // "Извлечение файла:%s"
inline constexpr uint32_t kPreparing = 220; // "Подготовка..."
} // namespace extraction_text

class ExtractionProgressModel {
  public:
    // What the text line and its tooltip show.
    struct Texts {
        std::string line;
        std::string tooltip;
    };

    // Resets the byte counters. A total above 7FFFFFFFh counts the bar in
    // KiB from then on (the divisor never goes back to 1).
    void SetTotal(uint64_t total);
    void BeginFile(uint64_t size);
    // The bar position for `written` bytes of the current file, or nullopt
    // when the run has reached the bar's end (the window ends finished).
    std::optional<uint32_t> Progress(uint64_t written) const;

    // Step mode.
    void BeginSteps(uint32_t count);
    // The position after one more step, or nullopt at the last step.
    std::optional<uint32_t> Step();
    bool StepMode() const { return m_stepMode; }
    void SetStepMode(bool on) { m_stepMode = on; }

    // Texts; nullopt: nothing changes.
    void SetFixedText(std::optional<std::string_view> text);
    std::optional<Texts> CurrentFileTexts(std::optional<std::string_view> name) const;
    static Texts StepTexts(std::string_view path);

    uint32_t Range() const { return m_range; }
    uint64_t Divisor() const { return m_divisor; }

  private:
    uint64_t m_divisor = 1;
    uint32_t m_range = 0;
    uint64_t m_finished = 0; // bytes of finished files
    uint64_t m_current = 0;  // size of the current file
    uint32_t m_steps = 0;
    uint32_t m_stepCount = 0;
    bool m_stepMode = false;
    std::optional<std::string> m_fixedText;
};

} // namespace krv::setup
