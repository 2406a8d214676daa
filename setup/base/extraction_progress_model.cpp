#include "extraction_progress_model.h"

#include "paths.h"
#include "ui_strings.h"

namespace krv::setup {

void ExtractionProgressModel::SetTotal(uint64_t total) {
    m_finished = 0;
    m_current = 0;
    if (total > 0x7FFFFFFFu)
        m_divisor = 1024;
    m_range = static_cast<uint32_t>(total / m_divisor);
}

void ExtractionProgressModel::BeginFile(uint64_t size) {
    m_finished += m_current;
    m_current = size;
}

std::optional<uint32_t> ExtractionProgressModel::Progress(uint64_t written) const {
    const uint64_t position = (m_finished + written) / m_divisor;
    if (position < m_range)
        return static_cast<uint32_t>(position);
    return std::nullopt;
}

void ExtractionProgressModel::BeginSteps(uint32_t count) {
    m_steps = 0;
    m_stepCount = count;
    m_range = count;
}

std::optional<uint32_t> ExtractionProgressModel::Step() {
    ++m_steps;
    if (m_steps >= m_stepCount)
        return std::nullopt;
    return m_steps;
}

void ExtractionProgressModel::SetFixedText(std::optional<std::string_view> text) {
    if (text)
        m_fixedText = std::string(*text);
    else
        m_fixedText.reset();
}

std::optional<ExtractionProgressModel::Texts>
ExtractionProgressModel::CurrentFileTexts(std::optional<std::string_view> name) const {
    if (!name)
        return std::nullopt;
    if (m_fixedText)
        return Texts{*m_fixedText, {}};
    std::string line = name->empty() ? LoadUiString(extraction_text::kAllFiles)
                                     : FormatUiString(extraction_text::kOneFile, *name);
    return Texts{line, line};
}

ExtractionProgressModel::Texts ExtractionProgressModel::StepTexts(std::string_view path) {
    std::string line = FormatUiString(extraction_text::kStepFile, SkipLongPathPrefix(path));
    return Texts{line, line};
}

} // namespace krv::setup
