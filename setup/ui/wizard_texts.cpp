#include "wizard_texts.h"

#include "prerequisite_model.h"
#include "search_engine.h"
#include "system.h"
#include "ui_strings.h"

#include <algorithm>
#include <limits>

namespace krv::setup {
namespace {

// FormatByteSize takes 32 bits: larger values are shown at its maximum.
std::string ByteSizeText(uint64_t size) {
    return FormatByteSize(
        static_cast<uint32_t>(std::min<uint64_t>(size, std::numeric_limits<uint32_t>::max())),
        false);
}

} // namespace

void CountManagerState(int32_t managerState, SelectionCounts &counts) {
    switch (managerState) {
    case prereq_state::kFromPackage:
    case prereq_state::kDownloaded:
        ++counts.toInstall;
        break;
    case prereq_state::kDownload:
        ++counts.toDownload;
        break;
    case prereq_state::kOpenSite:
        ++counts.toOpen;
        break;
    default:
        break;
    }
}

WizardNextAction NextActionOf(const SelectionCounts &counts) {
    if (counts.toDownload > 0)
        return WizardNextAction::kDownload;
    if (counts.toOpen > 0)
        return WizardNextAction::kOpenSites;
    if (counts.toInstall > 0)
        return WizardNextAction::kInstall;
    return WizardNextAction::kFinish;
}

uint32_t NextStepHintId(WizardNextAction action) {
    switch (action) {
    case WizardNextAction::kDownload:
        return ui_text::kNextDownloadsHint;
    case WizardNextAction::kOpenSites:
        return ui_text::kNextOpensSitesHint;
    case WizardNextAction::kInstall:
        return ui_text::kNextInstallsHint;
    case WizardNextAction::kFinish:
        break;
    }
    return ui_text::kFinishInstallsHint;
}

uint32_t ActionTextId(int32_t managerState) {
    switch (managerState) {
    case prereq_state::kFromPackage:
    case prereq_state::kDownloaded:
        return ui_text::kInstall;
    case prereq_state::kDownload:
        return ui_text::kDownload;
    case prereq_state::kOpenSite:
        return ui_text::kOpenSite;
    case prereq_state::kFound:
    case prereq_state::kExcluded:
    case prereq_state::kNotSelected:
        return ui_text::kSkip;
    default:
        return 0;
    }
}

namespace {

bool HasOneSimpleSearch(const PrerequisiteRecord &record) {
    return record.searches.size() == 1 && record.searches[0].type >= search_type::kFile &&
           record.searches[0].type <= search_type::kUpgradeCode;
}

} // namespace

std::vector<std::string> FirstSearchFoundValues(const PrerequisiteRecord &record) {
    if (!HasOneSimpleSearch(record) || HasPrerequisiteOption(record, 'i'))
        return {};
    SearchResult result;
    RunSearch(record.searches[0], HasPrerequisiteOption(record, 'x'), result);
    return result.foundValues;
}

std::string FormatRequirementText(std::string_view minimum, std::string_view maximum) {
    if (minimum.empty() && maximum.empty())
        return LoadUiString(ui_text::kRequiredAny);
    if (minimum.empty())
        return FormatUiString(ui_text::kRequiredAtMost, std::string(maximum));
    if (maximum.empty())
        return FormatUiString(ui_text::kRequiredAtLeast, std::string(minimum));
    return FormatUiString(ui_text::kRequiredBetween, std::string(minimum), std::string(maximum));
}

std::string PrerequisiteVersionText(const PrerequisiteRecord &record,
                                    const std::vector<std::string> &firstResultValues) {
    if (HasPrerequisiteOption(record, 'i'))
        return LoadUiString(ui_text::kFoundNothing);
    if (HasOneSimpleSearch(record)) {
        const SearchRecord &search = record.searches[0];
        std::string text = FormatRequirementText(search.verMin, search.verMax);
        if (firstResultValues.empty())
            return text + LoadUiString(ui_text::kFoundNothing);
        std::string joined;
        for (const std::string &value : firstResultValues) {
            if (!joined.empty())
                joined += ", ";
            joined += value;
        }
        return text + FormatUiString(ui_text::kFoundValues, joined);
    }
    std::string text = FormatRequirementText(record.verMin, record.verMax);
    return text + LoadUiString(EffectivePrerequisiteState(record) == prereq_state::kFound
                                   ? ui_text::kSuitableVersionFound
                                   : ui_text::kFoundNothing);
}

uint64_t ScaledUnknownShare(uint64_t bytes, uint64_t announcedSize) {
    if (announcedSize == 0)
        return 0;
    // bytes * share / size without overflow for any 64-bit byte count.
    const unsigned __int128 product = static_cast<unsigned __int128>(bytes) * kUnknownSizeShare;
    return static_cast<uint64_t>(product / announcedSize);
}

std::string RemainingTimeText(uint64_t bytesPerSecond, uint64_t currentSize,
                              uint64_t currentBytes) {
    if (bytesPerSecond == 0)
        return {};
    const uint64_t speed = std::max<uint64_t>(bytesPerSecond, 1024);
    const std::string speedText = ByteSizeText(speed / 1024 * 1024);
    // With no size there is no time to go: only the rate.
    if (currentSize == 0)
        return FormatUiString(ui_text::kSpeedOnly, speedText);
    const uint64_t left = currentSize > currentBytes ? currentSize - currentBytes : 0;
    const uint64_t seconds = left / speed;
    const int64_t hours = static_cast<int64_t>(seconds / 3600);
    const int64_t minutes = static_cast<int64_t>(seconds / 60 % 60);
    const int64_t rest = static_cast<int64_t>(seconds % 60);
    if (hours > 0)
        return FormatUiString(ui_text::kRemainingHours, hours, minutes, speedText);
    if (minutes > 0)
        return FormatUiString(ui_text::kRemainingMinutes, minutes, rest, speedText);
    return FormatUiString(ui_text::kRemainingSeconds, rest, speedText);
}

int Percent(uint64_t part, uint64_t whole) {
    if (whole == 0)
        return 0;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(part) * 100 / whole;
    return static_cast<int>(std::min<unsigned __int128>(scaled, 100));
}

DownloadProgressTexts FormatDownloadProgress(uint64_t overallBytes, uint64_t overallTotal,
                                             uint64_t currentBytes, uint64_t currentSize,
                                             std::string_view name, TransferState state) {
    DownloadProgressTexts texts;
    texts.overall =
        overallTotal == 0
            ? FormatUiString(ui_text::kOverallProgressUnknownSize, ByteSizeText(overallBytes))
            : FormatUiString(ui_text::kOverallProgress,
                             static_cast<int64_t>(Percent(overallBytes, overallTotal)),
                             ByteSizeText(overallBytes), ByteSizeText(overallTotal));
    if (state == TransferState::kPaused) {
        texts.current = LoadUiString(ui_text::kPaused);
        texts.column = texts.current;
    } else if (state == TransferState::kSucceeded) {
        texts.current = LoadUiString(ui_text::kDownloadCompleted);
        texts.column = LoadUiString(ui_text::kCompleted);
    } else if (currentSize == 0) {
        texts.column = ByteSizeText(currentBytes);
        texts.current =
            FormatUiString(ui_text::kDownloadProgressUnknownSize, std::string(name), texts.column);
    } else {
        const int64_t percent = Percent(currentBytes, currentSize);
        texts.current = FormatUiString(ui_text::kDownloadProgress, std::string(name), percent,
                                       ByteSizeText(currentBytes), ByteSizeText(currentSize));
        texts.column = FormatUiText("%d%%", {percent});
    }
    return texts;
}

} // namespace krv::setup
