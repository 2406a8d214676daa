#include "caller_extraction.h"

#include "command_line.h"
#include "paths.h"
#include "payload_package.h"
#include "pipe_progress_sink.h"
#include "setup_runner.h"

#include <cctype>
#include <memory>

namespace krv::setup {

std::vector<uint32_t> ParseGroupList(std::string_view list) {
    std::vector<uint32_t> ids;
    for (std::size_t semicolon; (semicolon = list.find(';')) != std::string_view::npos;
         list.remove_prefix(semicolon + 1)) {
        const std::string_view item = list.substr(0, semicolon);
        uint64_t value = 0;
        std::size_t digits = 0;
        while (digits < item.size() && std::isdigit(static_cast<unsigned char>(item[digits])) &&
               value <= UINT32_MAX) {
            value = value * 10 + static_cast<uint64_t>(item[digits] - '0');
            ++digits;
        }
        if (digits > 0 && value <= UINT32_MAX)
            ids.push_back(static_cast<uint32_t>(value));
    }
    return ids;
}

std::string CallerOutputFolder(std::string_view value) {
    std::string folder;
    if (value.starts_with('"'))
        folder = value.size() >= 2 ? std::string(value.substr(1, value.size() - 2)) : std::string();
    else
        folder = std::string(value);
    AddTrailingBackslash(folder);
    return folder;
}

int ExtractGroupsForCaller(SetupRunner &runner, std::string_view list) {
    PipeChannel channel;
    std::unique_ptr<PipeProgressSink> sink;
    const SwitchValue *out = FindSwitch(runner.Options(), switch_id::kOut);
    const std::string folder = CallerOutputFolder(out ? out->value : std::string());
    if (const SwitchValue *id = FindSwitch(runner.Options(), switch_id::kCallbackId)) {
        // A caller that cannot be reached still gets its files; the events
        // are then dropped.
        channel.Open(false, id->value);
        sink = std::make_unique<PipeProgressSink>(channel);
    }
    if (!OpenPackageAndSettings(runner))
        return 1;
    auto *package = dynamic_cast<PayloadRunnerPackage *>(&runner.Package());
    if (!package)
        return 1;
    PayloadArchive &archive = package->Archive();
    archive.SetExtractionFolder(folder);
    archive.SetKeepMode(archive_keep::kEverything);
    ExtractionDialogParts parts;
    parts.extraction = sink.get();
    parts.diskSpace = sink.get();
    return archive.ExtractEntries(ParseGroupList(list), parts);
}

} // namespace krv::setup
