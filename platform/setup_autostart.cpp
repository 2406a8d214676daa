#include "setup_autostart.h"
#include "file_open.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::platform {
namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// Key-file escapes of a text value.
std::string EscapeKeyFileValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> UnescapeKeyFileValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 's':
            out += ' ';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

// The folders an entry's write made in this process, in the order made:
// they go again with the last entry removed from them, so that a run whose
// entry was only needed for a while leaves no empty folder behind.
std::mutex g_madeLock;
std::vector<std::string> g_madeFolders;

bool MakeFolders(const std::string &folder) {
    std::string path;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        path = folder.substr(0, pos);
        if (path.empty() || path.back() == '/')
            continue;
        if (::mkdir(path.c_str(), 0755) == 0) {
            const std::lock_guard guard(g_madeLock);
            g_madeFolders.push_back(path);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string AutostartEntryPath(const std::string &folder, const std::string &fileName) {
    if (folder.empty() || folder.back() == '/')
        return folder + fileName;
    return folder + "/" + fileName;
}

std::string QuoteExecArgument(std::string_view argument) {
    std::string out;
    for (char c : argument)
        out += c == '%' ? std::string("%%") : std::string(1, c);
    if (!argument.empty() && argument.find_first_of(kReserved) == std::string_view::npos)
        return out;
    std::string quoted = "\"";
    for (char c : out) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string BuildExecValue(const std::vector<std::string> &arguments) {
    std::string line;
    for (const std::string &argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += QuoteExecArgument(argument);
    }
    return EscapeKeyFileValue(line);
}

std::optional<std::vector<std::string>> ParseExecValue(std::string_view value) {
    std::optional<std::string> line = UnescapeKeyFileValue(value);
    if (!line)
        return std::nullopt;
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line->size(); ++i) {
        char c = (*line)[i];
        if (quoted) {
            if (c == '\\') {
                if (++i == line->size())
                    return std::nullopt;
                current += (*line)[i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
            continue;
        }
        if (c == ' ') {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == '"')
            quoted = true;
        else
            current += c;
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments.push_back(std::move(current));
    // Every "%" was doubled, quoted or not.
    for (std::string &argument : arguments) {
        std::string plain;
        for (std::size_t i = 0; i < argument.size(); ++i) {
            plain += argument[i];
            if (argument[i] == '%' && i + 1 < argument.size() && argument[i + 1] == '%')
                ++i;
        }
        argument = std::move(plain);
    }
    return arguments;
}

bool WriteAutostartEntry(const std::string &folder, const std::string &fileName,
                         const AutostartEntry &entry) {
    if (fileName.empty() || fileName.find('/') != std::string::npos || entry.arguments.empty() ||
        !MakeFolders(folder))
        return false;
    const std::string path = AutostartEntryPath(folder, fileName);
    const std::string text =
        "[Desktop Entry]\nType=Application\nName=" + EscapeKeyFileValue(entry.name) +
        "\nExec=" + BuildExecValue(entry.arguments) + "\nNoDisplay=true\nTerminal=false\n";
    return ReplaceFileAtomically(path, text, 0644);
}

std::optional<AutostartEntry> ReadAutostartEntry(const std::string &folder,
                                                 const std::string &fileName) {
    constexpr uint64_t kMaxEntryBytes = 1u << 20;
    std::string text;
    if (ReadRegularFile(AutostartEntryPath(folder, fileName), kMaxEntryBytes, text) !=
        FileError::None)
        return std::nullopt;
    std::istringstream in(text);
    AutostartEntry entry;
    bool inGroup = false;
    bool haveExec = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup)
            continue;
        if (line.rfind("Name=", 0) == 0) {
            entry.name = UnescapeKeyFileValue(line.substr(5)).value_or("");
        } else if (line.rfind("Exec=", 0) == 0) {
            auto arguments = ParseExecValue(std::string_view(line).substr(5));
            if (!arguments || arguments->empty())
                return std::nullopt;
            entry.arguments = std::move(*arguments);
            haveExec = true;
        }
    }
    if (!haveExec)
        return std::nullopt;
    return entry;
}

bool RemoveAutostartEntry(const std::string &folder, const std::string &fileName) {
    if (fileName.empty() || fileName.find('/') != std::string::npos)
        return false;
    if (::unlink(AutostartEntryPath(folder, fileName).c_str()) != 0)
        return false;
    const std::lock_guard guard(g_madeLock);
    while (!g_madeFolders.empty() && ::rmdir(g_madeFolders.back().c_str()) == 0)
        g_madeFolders.pop_back();
    return true;
}

} // namespace krv::platform
