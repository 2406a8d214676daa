#include "command_line.h"

#include "command_line_text.h"
#include "system.h"

#include <setup_registry.h>

#include <algorithm>
#include <utility>

namespace krv::setup {

namespace {

using K = SwitchKind;
constexpr std::array<CommandLineSwitch, kSwitchCount> kSwitchTable = {{
    {"/?", K::None, switch_id::kHelp, false, true},
    {"/help", K::None, switch_id::kHelp, false, true},
    {"/extract", K::Text, switch_id::kExtract, true, true},
    {"/originalPath", K::Text, switch_id::kOriginalPath, false, false},
    {"/extractlzma", K::None, switch_id::kExtractLzma, false, false},
    {"/deletelzma", K::None, switch_id::kDeleteLzma, false, true},
    {"/exenoui", K::None, switch_id::kExeNoUi, false, false},
    {"/exebasicui", K::None, switch_id::kExeBasicUi, false, false},
    {"/exefullui", K::None, switch_id::kExeFullUi, false, false},
    {"/exelang", K::Number, switch_id::kExeLang, false, false},
    {"/listlangs", K::None, switch_id::kListLangs, false, true},
    {"/exelog", K::Text, switch_id::kExeLog, true, false},
    {"/groupsextract", K::Text, switch_id::kGroupsExtract, false, false},
    {"/callbackid", K::Number, switch_id::kCallbackId, false, false},
    {"/out", K::Text, switch_id::kOut, false, false},
    {"/username", K::Text, switch_id::kUserName, false, false},
    {"/password", K::Text, switch_id::kPassword, false, false},
    {"/proxyusername", K::Text, switch_id::kUserName, false, false},
    {"/proxypassword", K::Text, switch_id::kPassword, false, false},
    {"/exenoupdates", K::None, switch_id::kExeNoUpdates, false, false},
    {"/aespassword", K::Text, switch_id::kAesPassword, false, false},
    {"/prereqs", K::Text, switch_id::kPrereqs, false, false},
    {"/noprereqs", K::None, switch_id::kNoPrereqs, false, false},
}};

bool IsBlank(char c) {
    return c == ' ';
}

// End of a NAME=value item or of a plain token that starts at `pos`: the
// first blank outside double quotes ("" inside quotes is one quote).
// npos when the item runs to the end of the text.
std::size_t ItemEnd(const std::string &text, std::size_t pos) {
    bool quoted = false;
    for (std::size_t i = pos; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                ++i;
                continue;
            }
            quoted = !quoted;
        } else if (IsBlank(c) && !quoted) {
            return i;
        }
    }
    return std::string::npos;
}

std::size_t SkipBlanks(const std::string &text, std::size_t pos) {
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

// An optional value that begins with "/" is the next switch, not the value.
// Linux absolute paths begin with "/" too: a token with a second "/"
// (/tmp/setup.log) is a path and stays the value.
bool LooksLikeSwitch(std::string_view token) {
    return !token.empty() && token.front() == '/' && token.find('/', 1) == std::string_view::npos;
}

// An installer property name: a letter or "_", then letters, digits, "_"
// and ".".
bool IsPropertyName(std::string_view name) {
    const auto isLetter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (name.empty() || !isLetter(name.front()))
        return false;
    return std::all_of(name.begin(), name.end(), [&isLetter](char c) {
        return isLetter(c) || (c >= '0' && c <= '9') || c == '.';
    });
}

bool IsReservedProperty(std::string_view name) {
    return std::find(kReservedProperties.begin(), kReservedProperties.end(), name) !=
           kReservedProperties.end();
}

} // namespace

const std::array<CommandLineSwitch, kSwitchCount> &CommandLineSwitchTable() {
    return kSwitchTable;
}

CommandLineOptions ParseCommandLine(std::string_view text) {
    CommandLineOptions options;
    std::size_t passStart = 0;
    std::size_t cursor = 0;
    std::string token;
    for (;;) {
        if (!NextQuotedToken(text, cursor, token, ":"))
            break;
        const CommandLineSwitch *row = LookupSwitchName(token);
        if (!row)
            break;
        std::string value;
        if (row->kind != SwitchKind::None) {
            const std::size_t beforeValue = cursor;
            if (!NextQuotedToken(text, cursor, value)) {
                if (!row->valueOptional)
                    break; // the switch name stays at the head of the pass-through text
                value.clear();
            } else if (row->valueOptional && LooksLikeSwitch(value)) {
                value.clear();
                cursor = beforeValue; // the token is the next switch
            }
        }
        options.switches.push_back({row->id, std::move(value)});
        passStart = cursor;
        if (row->stopAfter)
            break;
    }
    options.passThrough = std::string(
        TrimBlanks(passStart < text.size() ? text.substr(passStart) : std::string_view{}));
    return options;
}

const SwitchValue *FindSwitch(const CommandLineOptions &options, int id) {
    for (const auto &pair : options.switches)
        if (pair.id == id)
            return &pair;
    return nullptr;
}

void SetSwitchValue(CommandLineOptions &options, int id, std::string value) {
    for (auto &pair : options.switches) {
        if (pair.id == id) {
            pair.value = std::move(value);
            return;
        }
    }
    options.switches.push_back({id, std::move(value)});
}

void RemoveSwitch(CommandLineOptions &options, int id) {
    auto it = std::find_if(options.switches.begin(), options.switches.end(),
                           [id](const SwitchValue &pair) { return pair.id == id; });
    if (it != options.switches.end())
        options.switches.erase(it);
}

const CommandLineSwitch *LookupSwitchName(std::string_view token) {
    for (const auto &row : kSwitchTable)
        if (EqualsIgnoreCase(token, row.name))
            return &row;
    return nullptr;
}

const CommandLineSwitch *LookupSwitchId(int id) {
    for (const auto &row : kSwitchTable)
        if (row.id == id)
            return &row;
    return nullptr;
}

std::string QuoteSwitchValue(std::string_view value, bool textKind) {
    if (value.empty())
        return {};
    std::string quoted;
    bool doubled = false;
    for (char c : value) {
        quoted.push_back(c);
        if (c == '"') {
            quoted.push_back('"');
            doubled = true;
        }
    }
    if (doubled || textKind)
        return '"' + quoted + '"';
    return quoted;
}

std::string BuildCommandLine(const CommandLineOptions &options, bool stripReserved) {
    std::string line;
    for (const auto &pair : options.switches) {
        const CommandLineSwitch *row = LookupSwitchId(pair.id);
        if (!row)
            continue;
        line += row->name;
        line += ' ';
        line += QuoteSwitchValue(pair.value, row->kind == SwitchKind::Text);
        line += ' ';
    }
    std::string passThrough = options.passThrough;
    if (stripReserved)
        StripReservedProperties(passThrough);
    line += passThrough;
    return line;
}

void StripReservedProperties(std::string &text) {
    std::size_t p = 0;
    for (;;) {
        const std::size_t equals = text.find('=', p);
        if (equals == std::string::npos)
            return;
        const std::string_view name(text.data() + p, equals - p);
        if (IsReservedProperty(name)) {
            const std::size_t end = ItemEnd(text, equals + 1);
            if (end == std::string::npos) {
                text.erase(p); // the pair was the last item
                return;
            }
            text.erase(p, SkipBlanks(text, end) - p);
        } else {
            const std::size_t end = ItemEnd(text, p);
            if (end == std::string::npos)
                return;
            p = SkipBlanks(text, end);
        }
    }
}

bool ReadCommandLineFromRegistry(std::string_view commandLine, std::string &out) {
    const std::vector<std::string> tokens = SplitQuotedTokens(commandLine);
    if (tokens.size() != 2 || tokens[0] != "/cmdloc")
        return false;
    const std::string &reference = tokens[1];
    const std::size_t lastSlash = reference.rfind('\\');
    if (lastSlash == std::string::npos)
        return false;
    const std::string valueName = reference.substr(lastSlash + 1);
    const std::string keyText = reference.substr(0, lastSlash);
    const std::size_t firstSlash = keyText.find('\\');
    const std::string root = keyText.substr(0, firstSlash);
    const std::string keyPath =
        firstSlash == std::string::npos ? std::string() : keyText.substr(firstSlash + 1);
    using platform::RegistryHive;
    RegistryHive hive = RegistryHive::Users;
    if (root == "HKLM")
        hive = RegistryHive::LocalMachine;
    else if (root == "HKCU")
        hive = RegistryHive::CurrentUser;
    else if (root == "HKCR")
        hive = RegistryHive::ClassesRoot;
    else if (root == "HKCC")
        hive = RegistryHive::CurrentConfig;
    const auto key = platform::RegistryOpenKey(hive, keyPath);
    if (!key)
        return false;
    out.clear();
    QueryRegistryValueText(*key, valueName, out); // a missing value leaves it empty
    // The stored command line is used once. The key goes too when nothing is
    // left in it (never the hive itself).
    platform::RegistryDeleteValue(*key, valueName);
    if (!keyPath.empty() && platform::RegistryListValues(*key).empty() &&
        platform::RegistryListSubkeys(*key).empty())
        platform::RegistryDeleteKey(hive, keyPath);
    return true;
}

std::string QuoteWindowsArgument(std::string_view argument) {
    const bool needsQuotes =
        argument.empty() || argument.find_first_of(" \t\"") != std::string_view::npos;
    if (!needsQuotes)
        return std::string(argument);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2, '\\');
            quoted += "\"\"";
        } else {
            quoted.append(backslashes, '\\');
            quoted.push_back(c);
        }
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\'); // they precede the closing quote
    quoted.push_back('"');
    return quoted;
}

std::string JoinWindowsCommandLine(const std::vector<std::string> &arguments) {
    std::string line;
    bool isSwitchValue = false; // the argument follows a switch that takes a value
    for (const auto &argument : arguments) {
        if (!line.empty())
            line.push_back(' ');
        const std::string_view view(argument);
        const bool afterValueSwitch = std::exchange(isSwitchValue, false);
        if (const CommandLineSwitch *row = LookupSwitchName(view))
            isSwitchValue = row->kind != SwitchKind::None;
        // "/switch:value" keeps its name outside the quotes, so the value is
        // read whole ("/exelog:"/tmp/my log"" means the same argument).
        const std::size_t colon = view.find(':');
        if (colon != std::string_view::npos && LookupSwitchName(view.substr(0, colon))) {
            line += view.substr(0, colon + 1);
            line += QuoteWindowsArgument(view.substr(colon + 1));
            continue;
        }
        // An installer property is written NAME="value", the form the
        // installer expects and the one StripReservedProperties and the
        // instance switches look for at the start of a token; quoting the
        // whole argument would hide a reserved NAME from them.
        // A switch value (a password may hold "=") is quoted whole.
        const std::size_t equals = view.find('=');
        if (!afterValueSwitch && equals != std::string_view::npos &&
            IsPropertyName(view.substr(0, equals))) {
            line += view.substr(0, equals + 1);
            line += QuoteWindowsArgument(view.substr(equals + 1));
            continue;
        }
        line += QuoteWindowsArgument(argument);
    }
    return line;
}

std::string MaskPasswordsInText(std::string_view text) {
    static constexpr std::array<std::string_view, 3> kSecretSwitches = {
        "/password", "/proxypassword", "/aespassword"};
    const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t nameLength = 0;
        if (text[i] == '/' && (i == 0 || isSpace(text[i - 1]) || text[i - 1] == '"' ||
                               text[i - 1] == ':' || text[i - 1] == '=')) {
            for (std::string_view name : kSecretSwitches) {
                if (text.size() - i >= name.size() &&
                    EqualsIgnoreCase(text.substr(i, name.size()), name)) {
                    const std::size_t after = i + name.size();
                    if (after == text.size() || text[after] == ':' || isSpace(text[after]) ||
                        text[after] == '"') {
                        nameLength = name.size();
                        break;
                    }
                }
            }
        }
        if (nameLength == 0) {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t pos = i + nameLength;
        if (pos < text.size() && text[pos] == ':')
            ++pos;
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
        out.append(text.substr(i, pos - i));
        std::size_t valueStart = pos;
        std::size_t valueEnd = pos;
        if (pos < text.size() && text[pos] == '"') {
            std::size_t run = 0;
            while (pos + run < text.size() && text[pos + run] == '"')
                ++run;
            const bool emptyValue =
                run == 2 && (pos + run == text.size() || isSpace(text[pos + run]));
            // One quote opens a plain quoted value; two open a value nested in
            // a quoted property, where every quote is doubled.
            const std::size_t open = emptyValue ? run : (run % 2 == 1 ? 1 : 2);
            valueStart = pos + open;
            valueEnd = text.size();
            for (std::size_t k = valueStart; !emptyValue && k < text.size();) {
                if (text[k] != '"') {
                    ++k;
                    continue;
                }
                std::size_t length = 0;
                while (k + length < text.size() && text[k + length] == '"')
                    ++length;
                if (length % (2 * open) == open) {
                    valueEnd = k + (length - open);
                    break;
                }
                k += length;
            }
            if (emptyValue)
                valueEnd = valueStart;
            out.append(text.substr(pos, valueStart - pos));
        } else {
            while (valueEnd < text.size() && !isSpace(text[valueEnd]) && text[valueEnd] != '"')
                ++valueEnd;
        }
        if (valueEnd > valueStart)
            out += kPasswordMask;
        i = valueEnd;
    }
    return out;
}

} // namespace krv::setup
