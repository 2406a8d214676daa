// The texts and decisions of the prerequisites wizard that need no window:
// the version column and the next step of the selection page, the action of
// a prerequisite, the download page's progress, speed and remaining-time
// texts. The pages call these; tests call them directly.
#pragma once

#include "settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

// What Next does on the selection page.
enum class WizardNextAction { kDownload = 0, kOpenSites = 1, kInstall = 2, kFinish = 4 };

// How many rows of the selection list need each kind of work.
struct SelectionCounts {
    int toDownload = 0;
    int toOpen = 0;
    int toInstall = 0;
};

// The counting kind of a manager state: 1 and 5 install, 2 download, 3 open.
void CountManagerState(int32_t managerState, SelectionCounts &counts);
// Download when any, else open sites, else install, else finish.
WizardNextAction NextActionOf(const SelectionCounts &counts);
// The hint shown under the list for the next step (154, 156, 155, 157).
uint32_t NextStepHintId(WizardNextAction action);
// The "Действие" column: 149 install, 148 download, 152 open site, 147 skip
// (states 0, 4, 7); 0 (nothing) for any other state.
uint32_t ActionTextId(int32_t managerState);

// What the prerequisite's only search finds now (the version column's
// values): its search run again when it has exactly one of type 0..4;
// nothing otherwise.
std::vector<std::string> FirstSearchFoundValues(const PrerequisiteRecord &record);

// "Требуется: ..." for a version range; either bound may be empty.
std::string FormatRequirementText(std::string_view minimum, std::string_view maximum);
// The "Версия" column: the requirement and what was found. `firstResultValues`
// are the values the prerequisite's first search found (used only when it
// has exactly one search of type 0..4).
std::string PrerequisiteVersionText(const PrerequisiteRecord &record,
                                    const std::vector<std::string> &firstResultValues);

// A file of unknown size weighs this much on the overall bar (only the bar:
// the texts count bytes).
inline constexpr uint64_t kUnknownSizeShare = 5242880;
// The overall bytes that `bytes` of a file of unknown expected size stand
// for, once the server announced `announcedSize` (64-bit intermediate).
uint64_t ScaledUnknownShare(uint64_t bytes, uint64_t announcedSize);

// "1 ч 21 мин при 1.00 KB/с" and its shorter forms; empty for a speed of 0.
// The speed used is at least 1024 bytes per second. A size of 0 (unknown)
// gives the rate alone ("576.00 KB/с").
std::string RemainingTimeText(uint64_t bytesPerSecond, uint64_t currentSize, uint64_t currentBytes);

// What the download page's texts say about the transfer.
struct DownloadProgressTexts {
    std::string overall; // "Выполнение: 40% (...)"
    std::string current; // the current file
    std::string column;  // the current row's state column
};
// Where the current transfer stands: a transfer reads as completed only once
// it has ended and succeeded; until then a size of 0 (unknown) shows the
// bytes so far, a known one the percentage. The overall text counts the
// bytes received: of a total, or alone while some file's size is not known
// (an overall total of 0).
enum class TransferState { kRunning, kPaused, kSucceeded };
DownloadProgressTexts FormatDownloadProgress(uint64_t overallBytes, uint64_t overallTotal,
                                             uint64_t currentBytes, uint64_t currentSize,
                                             std::string_view name, TransferState state);

// A percentage that never divides by zero and never passes 100.
int Percent(uint64_t part, uint64_t whole);

} // namespace krv::setup
