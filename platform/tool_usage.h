// The command-line manners every program shares (the console, the emulator,
// the installer, the tools): `--help` (or `-h`) prints the usage on standard
// output and ends with 0; a wrong argument prints what is wrong and the usage
// on standard error and ends with 2, before anything runs.
#pragma once

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace krv::tools {

// Exit status of a benchmark that ran but missed a target it prints.
inline constexpr int kTargetMissed = 3;

inline bool IsHelpOption(std::string_view argument) {
    return argument == "--help" || argument == "-h";
}

[[noreturn]] inline void ExitWithUsage(const char *usage, bool asked,
                                       const char *complaint = nullptr) {
    if (complaint)
        std::fprintf(stderr, "%s\n", complaint);
    std::fputs(usage, asked ? stdout : stderr);
    std::exit(asked ? 0 : 2);
}

// A first argument asking for help ends the program with the usage.
inline void AnswerHelp(int argc, char **argv, const char *usage) {
    if (argc > 1 && IsHelpOption(argv[1]))
        ExitWithUsage(usage, true);
}

// The positional number argv[index] in [min, max], or `fallback` when it is
// not given; anything else ends the program with the usage.
inline long NumberArgument(int argc, char **argv, int index, long fallback, long min, long max,
                           const char *usage) {
    if (index >= argc)
        return fallback;
    const std::string_view text = argv[index];
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
        value > max) {
        std::fprintf(stderr, "bad argument '%s' (a number from %ld to %ld)\n", argv[index], min,
                     max);
        ExitWithUsage(usage, false);
    }
    return value;
}

// More arguments than the tool takes end the program with the usage.
inline void AtMostArguments(int argc, char **argv, int count, const char *usage) {
    if (argc - 1 > count) {
        std::fprintf(stderr, "unexpected argument '%s'\n", argv[count + 1]);
        ExitWithUsage(usage, false);
    }
}

// Standard output a line at a time, so that a long run shows each round as
// it ends even through a pipe.
inline void LineBufferedOutput() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

} // namespace krv::tools
