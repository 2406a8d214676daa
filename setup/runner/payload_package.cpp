#include "payload_package.h"

#include "jar_unpacker.h"

namespace krv::setup {

PayloadRunnerPackage::PayloadRunnerPackage(SetupMessages messages,
                                           platform::ProcessLauncher programs) {
    m_archive.SetJarUnpacker([messages = std::move(messages), programs = std::move(programs)](
                                 const std::vector<std::string> &folders, StepProgressSink *steps) {
        return JarUnpacker(folders, messages, programs).Run(steps);
    });
}

int PayloadRunnerPackage::Open(const std::string &path) {
    if (const int result = m_archive.SetArchivePath(path))
        return result;
    return m_archive.OpenArchive();
}

bool PayloadRunnerPackage::ReadSettings(IniDocument &document) {
    return m_archive.ReadPackageSettings(document);
}

} // namespace krv::setup
