// What the runner asks of the package appended to the program: a small
// interface over the payload archive, so that the run's sequence does not
// depend on how the archive is read (and tests can stand in for it).
#pragma once

#include "extraction_progress.h"
#include "ini.h"
#include "payload_format.h" // the bits of ContainerFlags()

#include <cstdint>
#include <optional>
#include <string>

namespace krv::setup {

class RunnerPackage {
  public:
    virtual ~RunnerPackage() = default;

    // Takes the package file (empty: the program's own file) and opens it;
    // a result code (0 success).
    virtual int Open(const std::string &path) = 0;
    virtual std::string PackagePath() const = 0;
    virtual std::string ErrorText() const = 0;
    virtual uint32_t ContainerFlags() const = 0;
    // The 32-character package id of the footer.
    virtual std::string PackageId() const = 0;
    // The settings text of the package, parsed; false when there is none.
    virtual bool ReadSettings(IniDocument &document) = 0;

    virtual void SetExtractionFolder(const std::string &folder) = 0;
    virtual void SetSecondFolder(const std::string &folder) = 0;
    virtual void SetPackageNameStem(const std::string &stem) = 0;
    virtual void SetPassword(const std::string &password) = 0;
    virtual void SetKeepMode(int mode) = 0;
    virtual int KeepMode() const = 0;
    virtual void SetPackJars(bool packJars) = 0;

    // Extracts the main package and gives its path; a result code.
    virtual int ExtractMainPackage(std::string &path, const ExtractionDialogParts &sinks) = 0;
    // /extract: everything the package allows into the extraction folder.
    virtual int ExtractAll(const ExtractionDialogParts &sinks) = 0;
    // Removes what was extracted, as the keep mode says (once).
    virtual void CleanUpExtraction() = 0;
    // The same for a stop's end, on the stop's thread, with the keep mode
    // given (none: the one set); a package extracting nothing of its own has
    // nothing to do.
    virtual void CleanUpOnStop(std::optional<int> keepMode) { (void)keepMode; }
};

} // namespace krv::setup
