#include "payload_package.h"

#include "caller_extraction.h"

namespace krv::setup {

PayloadRunnerPackage::PayloadRunnerPackage() {
    m_archive.SetJarUnpacker(RunJarUnpacker);
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
