// The runner's package: the payload archive appended to the program.
#pragma once

#include "messages.h"
#include "payload_archive.h"
#include "runner_package.h"

#include <setup_process.h>

namespace krv::setup {

class PayloadRunnerPackage : public RunnerPackage {
  public:
    // Packed Java archives in the package's groups are unpacked after them,
    // by an unpack200 started through `programs` (empty: for real); their
    // failures are reported through the messages.
    explicit PayloadRunnerPackage(SetupMessages messages, platform::ProcessLauncher programs = {});
    int Open(const std::string &path) override;
    std::string PackagePath() const override { return m_archive.ArchivePath(); }
    std::string ErrorText() const override { return m_archive.GetArchiveErrorText(); }
    uint32_t ContainerFlags() const override { return m_archive.ContainerFlags(); }
    std::string PackageId() const override { return m_archive.GetPackageId(); }
    bool ReadSettings(IniDocument &document) override;
    void SetExtractionFolder(const std::string &folder) override {
        m_archive.SetExtractionFolder(folder);
    }
    void SetSecondFolder(const std::string &folder) override { m_archive.SetSecondFolder(folder); }
    void SetPackageNameStem(const std::string &stem) override {
        m_archive.SetPackageNameStem(stem);
    }
    void SetPassword(const std::string &password) override {
        m_archive.SetArchivePassword(password);
    }
    void SetKeepMode(int mode) override { m_archive.SetKeepMode(mode); }
    int KeepMode() const override { return m_archive.KeepMode(); }
    void SetPackJars(bool packJars) override { m_archive.SetPackJars(packJars); }
    int ExtractMainPackage(std::string &path, const ExtractionDialogParts &sinks) override {
        return m_archive.ExtractMainPackage(path, sinks);
    }
    int ExtractAll(const ExtractionDialogParts &sinks) override {
        return m_archive.ExtractAll(sinks);
    }
    void CleanUpExtraction() override { m_archive.CleanUpExtraction(); }
    void CleanUpOnStop(std::optional<int> keepMode) override { m_archive.CleanUpOnStop(keepMode); }

    PayloadArchive &Archive() { return m_archive; }

  private:
    PayloadArchive m_archive;
};

} // namespace krv::setup
