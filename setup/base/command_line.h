// The bootstrapper's command line: the table of switches, the parsed list of
// switches with the text handed on to the installer, the rebuilding of a
// command line from that list, the removal of the installer properties the
// bootstrapper sets itself, and the /cmdloc redirection to a stored value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

enum class SwitchKind : uint8_t { None = 0, Text = 1, Number = 2 };

// Switch ids. Two spellings share id 1 ("/?", "/help"), 16 ("/username",
// "/proxyusername") and 17 ("/password", "/proxypassword"); 15 is unused.
namespace switch_id {
inline constexpr int kHelp = 1;
inline constexpr int kExtract = 2;
inline constexpr int kOriginalPath = 3;
inline constexpr int kExtractLzma = 4;
inline constexpr int kDeleteLzma = 5;
inline constexpr int kExeNoUi = 6;
inline constexpr int kExeBasicUi = 7;
inline constexpr int kExeFullUi = 8;
inline constexpr int kExeLang = 9;
inline constexpr int kListLangs = 10;
inline constexpr int kExeLog = 11;
inline constexpr int kGroupsExtract = 12;
inline constexpr int kCallbackId = 13;
inline constexpr int kOut = 14;
inline constexpr int kUserName = 16;
inline constexpr int kPassword = 17;
inline constexpr int kExeNoUpdates = 18;
inline constexpr int kAesPassword = 19;
inline constexpr int kPrereqs = 20;
inline constexpr int kNoPrereqs = 21;
} // namespace switch_id

struct CommandLineSwitch {
    const char *name;
    SwitchKind kind;
    int id;
    bool valueOptional;
    bool stopAfter; // parsing stops after this switch
};

inline constexpr std::size_t kSwitchCount = 23;
const std::array<CommandLineSwitch, kSwitchCount> &CommandLineSwitchTable();

struct SwitchValue {
    int id = 0;
    std::string value; // number values (kind 2) are kept as text too
};

struct CommandLineOptions {
    std::vector<SwitchValue> switches; // in command-line order, repeats kept
    std::string passThrough;           // handed on to the installer
};

// Never fails: text that is not a recognised switch becomes pass-through text.
CommandLineOptions ParseCommandLine(std::string_view text);

const SwitchValue *FindSwitch(const CommandLineOptions &options, int id);
void SetSwitchValue(CommandLineOptions &options, int id, std::string value);
void RemoveSwitch(CommandLineOptions &options, int id);

// Case-insensitive, table order.
const CommandLineSwitch *LookupSwitchName(std::string_view token);
// The first row of the id, so shared ids come back as "/username" and "/password".
const CommandLineSwitch *LookupSwitchId(int id);

// Empty stays empty; otherwise quotes are doubled and the value is wrapped in
// quotes when a quote was doubled or the switch takes a text.
std::string QuoteSwitchValue(std::string_view value, bool textKind);

// Each switch as "name value " followed by the pass-through text, from which
// the reserved installer properties are removed when `stripReserved` is set.
std::string BuildCommandLine(const CommandLineOptions &options, bool stripReserved);

// The installer properties the bootstrapper sets itself on the installer's
// command line; given again by the user they would be handed on twice.
inline constexpr std::array<std::string_view, 12> kReservedProperties = {
    "PX_RESUME",     "ADDLOCAL",        "PX_PREREQFILES", "REMOVE",
    "ACTION",        "ALLUSERS",        "EXECUTEACTION",  "ROOTDRIVE",
    "PX_PREREQDIRS", "PX_SETUPEXEPATH", "SETUPEXEDIR",    "EXE_CMD_LINE"};

// Removes NAME=value items whose NAME is reserved (exact case) when they stand
// at the start of a token.
void StripReservedProperties(std::string &text);

// /cmdloc: a command line of exactly "/cmdloc ROOT\key\path\ValueName" reads
// the command line from that stored value, deletes the value (and the key
// when it is left empty) and returns true; the value's text replaces the
// command line for the whole run. Anything else returns false.
bool ReadCommandLineFromRegistry(std::string_view commandLine, std::string &out);

// Joins program arguments into one Windows-style command line, quoting an
// argument that is empty or holds a blank, tab or double quote. Inside quotes
// a double quote is written as "" and backslashes that precede a quote are
// doubled, so the usual Windows argument splitting (the one the installer's
// command line goes through) reads every argument back. This module's
// tokenizer keeps the text raw: it reads a value back unchanged unless the
// value has quotes or ends in backslashes. "/switch:value" and installer
// properties NAME=value are quoted after the ":" or "=" only.
std::string QuoteWindowsArgument(std::string_view argument);
std::string JoinWindowsCommandLine(const std::vector<std::string> &arguments);

// The value of every /password, /proxypassword and /aespassword in a command
// line replaced by "*****", for log lines. Both "/password x" and
// "/password:x" forms, quoted values and values nested in a quoted property
// (EXE_CMD_LINE="... /password ""x"" ...") are covered.
std::string MaskPasswordsInText(std::string_view text);
inline constexpr std::string_view kPasswordMask = "*****";

} // namespace krv::setup
