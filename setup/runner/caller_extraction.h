// /groupsextract: another process has chosen entries of the package
// extracted into a folder (/out) and follows the progress over its socket
// (/callbackid).
#pragma once

#include "progress_sinks.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

class SetupRunner;

// The set ids of a list such as "3;5;": every number that a ";" ends, read
// as decimal; text after the last ";" is not taken, items without digits are
// skipped.
std::vector<uint32_t> ParseGroupList(std::string_view list);

// The /out value as a folder: surrounding double quotes removed, a trailing
// separator added to a non-empty folder.
std::string CallerOutputFolder(std::string_view value);

// Extracts the entries of the list for the calling process; the run's exit
// code: 1 when the package cannot be opened, else the extraction's result.
int ExtractGroupsForCaller(SetupRunner &runner, std::string_view list);

} // namespace krv::setup
