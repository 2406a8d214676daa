// The switches that work on the package instead of running a setup:
// /extract FOLDER (everything the package allows into a folder) and
// /deletelzma (remove what the main package put in place).
#pragma once

#include "messages.h"
#include "program.h"

#include <string_view>

namespace krv::setup {

// The exit code of an archive result: 0 for 0, -1 for a cancellation (15),
// else 1 after reporting the error text (or the code's message when there
// is no text).
int ArchiveResultExitCode(const SetupMessages &messages, std::string_view errorText, int code);

// /extract: into the folder given, made with its parents when missing (1
// and a message when it cannot be made); without a value into the
// program's folder.
// A package that allows no extraction ends with 0 and nothing done.
int ExtractOnly(SetupProgram &program, std::string_view folder);
// /deletelzma: 1 when the package cannot be opened, else 0.
int DeleteMainPackageFiles(SetupProgram &program);

} // namespace krv::setup
