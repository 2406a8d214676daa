// krv-package-builder: appends a package to a copy of the setup program.
//
//   krv-package-builder --program TelmarSetup2.3 --out dist/TelmarSetup2.3
//       [--flags 0x10] ENTRY...
// Entries, written in the order given:
//   --stored TYPE SET NAME FILE       a file as it is
//   --scrambled TYPE SET NAME FILE    a file scrambled over its window
//   --tree TYPE SET FOLDER            every file below FOLDER, stored
//   --group TYPE SET NAME SOURCE      a folder packed as tar.xz, or a tar.xz file
//   --scrambled-group TYPE SET NAME SOURCE
//   --library FILE                    the extraction library
//   --settings FILE                   the settings text (as an entry)
//   --name KEY TEXT                   a name-table record
//   --keep                            the next entry carries the keep flag
//   --installer TYPE SET NAME TREE PROPERTIES
//                                     an installer package (the main package)
//                                     made from an installed tree, with the
//                                     NAME=VALUE lines of PROPERTIES as its
//                                     property table
// A language module (setup/base/language_module.h: its texts and resource
// blocks, written as that header describes) is copied as it is:
//   --stored 12 SET <LANGID>.dll FILE
#include "installer_entry.h"
#include "package_writer.h"
#include "tool_usage.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace krv::package;
using namespace krv::setup::payload;

namespace {

constexpr const char *kUsage =
    "usage: krv-package-builder --program FILE --out FILE [--flags N] entries...\n"
    "  --stored|--scrambled TYPE SET NAME FILE, --tree TYPE SET FOLDER,\n"
    "  --group|--scrambled-group TYPE SET NAME SOURCE, --library FILE,\n"
    "  --settings FILE, --name KEY TEXT, --keep,\n"
    "  --installer TYPE SET NAME TREE PROPERTIES\n"
    "Appends a package of the entries, in the order given, to a copy of the setup\n"
    "program FILE (e.g. build/bin/TelmarSetup2.3) and writes it to --out.\n";

int Usage() {
    krv::tools::ExitWithUsage(kUsage, false);
}

bool Number(const std::string &text, uint32_t &value) {
    char *end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end || parsed > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    krv::tools::AnswerHelp(argc, argv, kUsage);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string program, output;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--program")
            program = args[i + 1];
        else if (args[i] == "--out")
            output = args[i + 1];
    }
    if (program.empty() || output.empty())
        return Usage();
    PackageWriter writer(program);
    uint32_t nextFlags = 0;
    std::string error;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &option = args[i];
        auto need = [&](std::size_t count) { return i + count < args.size(); };
        uint32_t type = 0, set = 0, flags = 0;
        if (option == "--program" || option == "--out") {
            ++i;
        } else if (option == "--flags" && need(1) && Number(args[i + 1], flags)) {
            writer.SetContainerFlags(writer.ContainerFlags() | flags);
            ++i;
        } else if (option == "--keep") {
            nextFlags |= kEntryKeep;
        } else if ((option == "--stored" || option == "--scrambled" || option == "--group" ||
                    option == "--scrambled-group") &&
                   need(4) && Number(args[i + 1], type) && Number(args[i + 2], set)) {
            const bool scrambled = option == "--scrambled" || option == "--scrambled-group";
            const uint32_t entryFlags = nextFlags | (scrambled ? kEntryScrambled : 0);
            if (option == "--stored" || option == "--scrambled")
                writer.AddFile(type, set, args[i + 3], args[i + 4], entryFlags);
            else
                writer.AddGroup(type, set, args[i + 3], args[i + 4], entryFlags);
            nextFlags = 0;
            i += 4;
        } else if (option == "--tree" && need(3) && Number(args[i + 1], type) &&
                   Number(args[i + 2], set)) {
            if (!writer.AddTree(type, set, args[i + 3], error, nextFlags)) {
                std::cerr << "krv-package-builder: " << error << '\n';
                return 1;
            }
            nextFlags = 0;
            i += 3;
        } else if (option == "--installer" && need(5) && Number(args[i + 1], type) &&
                   Number(args[i + 2], set)) {
            if (!AddInstallerPackage(writer, type, set, args[i + 3], args[i + 4], args[i + 5],
                                     nextFlags, error)) {
                std::cerr << "krv-package-builder: " << error << '\n';
                return 1;
            }
            nextFlags = 0;
            i += 5;
        } else if (option == "--library" && need(1)) {
            writer.AddExtractionLibrary(args[++i]);
        } else if (option == "--settings" && need(1)) {
            std::string text;
            if (!ReadWholeFile(args[++i], text, error)) {
                std::cerr << "krv-package-builder: " << error << '\n';
                return 1;
            }
            writer.AddSettings(std::move(text));
        } else if (option == "--name" && need(2) && Number(args[i + 1], type)) {
            writer.AddName(type, args[i + 2]);
            i += 2;
        } else {
            std::cerr << "krv-package-builder: bad argument " << option << '\n';
            return Usage();
        }
    }
    if (!writer.Write(output, error)) {
        std::cerr << "krv-package-builder: " << error << '\n';
        return 1;
    }
    std::cout << output << '\n';
    return 0;
}
