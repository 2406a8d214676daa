#include "payload_commands.h"

#include "files.h"
#include "ini.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "payload_archive.h"
#include "settings.h"
#include "setup_ui.h"

#include <filesystem>
#include <system_error>

namespace krv::setup {

namespace {

// Opens the program's own package and, when it carries settings, takes the
// extraction folder, keep mode, name stem and PackJars from them.
bool OpenPackageAndSettings(SetupProgram &program, PayloadArchive &archive, SetupUi &ui) {
    ui.SetProductName(program.programPath);
    if (archive.SetArchivePath(program.programPath) || archive.OpenArchive())
        return false;
    if (!(archive.ContainerFlags() & payload::container::kHasSettings))
        return true;
    IniDocument document;
    archive.ReadPackageSettings(document);
    GeneralOptions general;
    LoadGeneralOptions(general, document);
    archive.SetExtractionFolder(SettingsExtractionFolder(general));
    archive.SetKeepMode(general.keepMode);
    if (const std::string stem = SettingsNameStem(general); !stem.empty())
        archive.SetPackageNameStem(stem);
    archive.SetPackJars(general.packJars);
    return true;
}

} // namespace

int ArchiveResultExitCode(const SetupMessages &messages, std::string_view errorText, int code) {
    if (code == payload_result::kOk)
        return 0;
    if (code == payload_result::kCancelled)
        return -1;
    if (!errorText.empty())
        messages.ReportError(errorText, false);
    else
        messages.ReportResultCode(code);
    return 1;
}

int ExtractOnly(SetupProgram &program, std::string_view value) {
    PayloadArchive archive;
    if (const int result = archive.SetArchivePath(program.programPath))
        return ArchiveResultExitCode(program.messages, archive.GetArchiveErrorText(), result);
    const std::string folder = value.empty() ? archive.PackageFolder() : std::string(value);
    archive.SetExtractionFolder(folder);
    if (const int result = archive.OpenArchive())
        return ArchiveResultExitCode(program.messages, archive.GetArchiveErrorText(), result);
    const uint32_t flags = archive.ContainerFlags();
    if (!(flags & (payload::container::kExtractAllowed | payload::container::kSeparateGroups)))
        return 0;
    // A folder the user named is made for the files; they never go anywhere
    // else instead.
    if (!PathExists(folder)) {
        std::error_code ec;
        std::filesystem::create_directories(ToNativePath(folder), ec);
        if (ec) {
            program.messages.ReportError("Cannot create the folder " + folder + ": " + ec.message(),
                                         false);
            return 1;
        }
    }
    if (const SwitchValue *password = FindSwitch(program.options, switch_id::kAesPassword))
        archive.SetArchivePassword(password->value);
    SetupUi ui(program.windows, program.messages);
    ui.SetProductName(program.programPath);
    const int result = archive.ExtractAll(ui.GetExtractionProgressDialog());
    archive.SetKeepMode(archive_keep::kEverything);
    ui.ReleaseExtractionProgressDialog();
    return ArchiveResultExitCode(program.messages, archive.GetArchiveErrorText(), result);
}

int DeleteMainPackageFiles(SetupProgram &program) {
    PayloadArchive archive;
    SetupUi ui(program.windows, program.messages);
    if (!OpenPackageAndSettings(program, archive, ui))
        return 1;
    archive.DeleteExtractedFiles();
    return 0;
}

} // namespace krv::setup
