// krv-package-bench: how fast TelmarSetup2.3 extracts its package, next to
// the system's own tools on the same disk in the same run.
//
//   krv-package-bench [BIN_FOLDER] [MIB]
//
// Stored entries: a package of MIB (default 200) MiB in 20 files,
// `TelmarSetup2.3 /exenoui /extract DIR` against `cat PACKAGE > /dev/null`
// plus `cp PACKAGE COPY` (reading the bytes once and writing them once).
// Compressed group: a tar.xz of MIB/4 MiB, the same extraction against
// `tar -xJf GROUP -C DIR`. Five alternating rounds; medians and their
// ratios are printed. Everything is made under /tmp and removed at the end.
#include "package_writer.h"
#include "tool_usage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 5;

// Data that compresses about as well as programs do: runs of random bytes
// and runs of repeated text.
void WriteData(const fs::path &path, std::size_t size, unsigned seed, bool compressible) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (std::size_t written = 0; written < size; written += block.size()) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const bool text = compressible && (i / 4096) % 4 != 0;
            block[i] = text ? "setup extraction benchmark "[i % 27] : static_cast<char>(state);
        }
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min(block.size(), size - written)));
    }
}

double Seconds(const std::string &command) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0) {
        std::cerr << "failed (" << status << "): " << command << '\n';
        std::exit(1);
    }
    return seconds;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Quote(const fs::path &path) {
    return "'" + path.string() + "'";
}

} // namespace

constexpr const char *kUsage =
    "usage: krv-package-bench [BIN_FOLDER] [MiB]\n"
    "  BIN_FOLDER  the folder of TelmarSetup2.3 and libkrv_extraction.so (default:\n"
    "              this program's folder)\n"
    "  MiB         size of the stored package (default 200, 4..16384); the compressed\n"
    "              group is a quarter of it\n"
    "Five alternating rounds, a line printed per round; the default run takes about\n"
    "15 s and writes about 500 MiB under /tmp.\n"
    "Exit status 0: every target met; 1: a run failed; 3: a target missed.\n";

int main(int argc, char **argv) {
    krv::tools::AnswerHelp(argc, argv, kUsage);
    krv::tools::AtMostArguments(argc, argv, 2, kUsage);
    const fs::path bin =
        argc > 1 ? fs::path(argv[1]) : fs::read_symlink("/proc/self/exe").parent_path();
    const auto mib =
        static_cast<std::size_t>(krv::tools::NumberArgument(argc, argv, 2, 200, 4, 16384, kUsage));
    const fs::path setup = bin / "TelmarSetup2.3";
    const fs::path library = bin / "libkrv_extraction.so";
    std::error_code missing;
    for (const fs::path &needed : {setup, library})
        if (!fs::is_regular_file(needed, missing)) {
            const std::string complaint = "krv-package-bench: no " + needed.string();
            krv::tools::ExitWithUsage(kUsage, false, complaint.c_str());
        }
    krv::tools::LineBufferedOutput();
    char pattern[] = "/tmp/krv-pkgbench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    const std::string env = "env QT_QPA_PLATFORM= DISPLAY= WAYLAND_DISPLAY= ";
    int exitCode = 0;
    {
        // Stored entries.
        const fs::path data = work / "data";
        fs::create_directories(data);
        const std::size_t files = 20;
        for (std::size_t i = 0; i < files; ++i)
            WriteData(data / ("file" + std::to_string(i) + ".bin"), mib * (1 << 20) / files,
                      static_cast<unsigned>(i), false);
        krv::package::PackageWriter stored(setup.string());
        stored.SetContainerFlags(krv::setup::payload::container::kExtractAllowed);
        std::string error;
        if (!stored.AddTree(0, 1, data.string(), error) ||
            !stored.Write((work / "stored-setup").string(), error)) {
            std::cerr << error << '\n';
            return 1;
        }
        fs::remove_all(data);
        // The compressed group, made once, used by both sides.
        const fs::path groupData = work / "group-data";
        fs::create_directories(groupData);
        for (std::size_t i = 0; i < 8; ++i)
            WriteData(groupData / ("part" + std::to_string(i) + ".bin"), mib * (1 << 20) / 4 / 8,
                      static_cast<unsigned>(i), true);
        const fs::path group = work / "group.tar.xz";
        const std::string pack =
            "tar -C " + Quote(groupData) + " -cf - . | xz -6 -T0 > " + Quote(group);
        Seconds(pack);
        fs::remove_all(groupData);
        krv::package::PackageWriter compressed(setup.string());
        compressed.SetContainerFlags(krv::setup::payload::container::kExtractAllowed);
        compressed.AddExtractionLibrary(library.string());
        compressed.AddGroup(7, 1, "group.txz", group.string());
        if (!compressed.Write((work / "group-setup").string(), error)) {
            std::cerr << error << '\n';
            return 1;
        }

        std::vector<double> extract, catCp, groupExtract, tarX;
        const fs::path out = work / "out";
        for (int round = 0; round < kRounds; ++round) {
            fs::remove_all(out);
            fs::create_directories(out);
            extract.push_back(
                Seconds(env + Quote(work / "stored-setup") + " /exenoui /extract " + Quote(out)));
            fs::remove_all(out);
            fs::create_directories(out);
            catCp.push_back(
                Seconds("cat " + Quote(work / "stored-setup") + " > /dev/null") +
                Seconds("cp " + Quote(work / "stored-setup") + " " + Quote(out / "copy")));
            fs::remove_all(out);
            fs::create_directories(out);
            groupExtract.push_back(
                Seconds(env + Quote(work / "group-setup") + " /exenoui /extract " + Quote(out)));
            fs::remove_all(out);
            fs::create_directories(out);
            tarX.push_back(Seconds("tar -xJf " + Quote(group) + " -C " + Quote(out)));
            std::printf("round %d: stored %.3f s (cat + cp %.3f s), group %.3f s (tar %.3f s)\n",
                        round + 1, extract.back(), catCp.back(), groupExtract.back(), tarX.back());
        }
        const double e = Median(extract), c = Median(catCp), g = Median(groupExtract),
                     t = Median(tarX);
        std::printf("stored package of %zu MiB (%d rounds, medians)\n", mib, kRounds);
        std::printf("  TelmarSetup2.3 /exenoui /extract   %.3f s\n", e);
        std::printf("  cat > /dev/null + cp               %.3f s\n", c);
        const bool storedMissed = e / c > 1.2, groupMissed = g / t > 1.1;
        std::printf("  ratio                              %.2f (target 1.2)%s\n", e / c,
                    storedMissed ? "  MISSED" : "");
        std::printf("compressed group of %zu MiB unpacked (%ju bytes packed)\n", mib / 4,
                    static_cast<uintmax_t>(fs::file_size(group)));
        std::printf("  TelmarSetup2.3 /exenoui /extract   %.3f s\n", g);
        std::printf("  tar -xJf                           %.3f s\n", t);
        std::printf("  ratio                              %.2f (target 1.1)%s\n", g / t,
                    groupMissed ? "  MISSED" : "");
        if (storedMissed || groupMissed) {
            std::printf("a target was missed\n");
            exitCode = krv::tools::kTargetMissed;
        }
    }
    fs::remove_all(work);
    return exitCode;
}
