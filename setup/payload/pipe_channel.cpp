#include "pipe_channel.h"

#include "files.h"
#include "paths.h"

#include <QString>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace krv::setup {

namespace {

constexpr std::string_view kPipePrefix = "ToServer";

// A folder only this user can enter, made when missing.
bool PrivateFolder(const std::string &folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

std::string RuntimeFolder() {
    std::string folder;
    if (GetEnvironmentText("XDG_RUNTIME_DIR", folder) && !folder.empty() && folder[0] == '/' &&
        PathExists(folder)) {
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        return folder;
    }
    std::string temp = GetTempFolder();
    if (temp.empty())
        return {};
    folder = ToNativePath(temp) + "krv-setup-" + std::to_string(::getuid());
    return PrivateFolder(folder) ? folder : std::string();
}

bool FillAddress(const std::string &path, sockaddr_un &address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

UniqueFd NewSocket() {
    return UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
}

std::string ReceiveMessage(int fd) {
    std::vector<char> buffer(kPipeReadLimit);
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {};
        return Utf16LeToUtf8(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
}

bool SendBytes(int fd, const std::string &bytes) {
    for (;;) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        return sent == static_cast<ssize_t>(bytes.size());
    }
}

} // namespace

std::string PipeSocketPath(std::string_view id) {
    if (id.find('/') != std::string_view::npos || id.find('\0') != std::string_view::npos)
        return {};
    const std::string folder = RuntimeFolder();
    if (folder.empty())
        return {};
    std::string path = folder + "/" + std::string(kPipePrefix) + std::string(id);
    sockaddr_un address;
    return FillAddress(path, address) ? path : std::string();
}

std::string Utf8ToUtf16Le(std::string_view text) {
    const std::u16string wide =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdU16String();
    std::string bytes;
    bytes.reserve(wide.size() * 2);
    for (char16_t unit : wide) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        wide += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                      (static_cast<uint8_t>(bytes[i + 1]) << 8));
    return QString::fromStdU16String(wide).toStdString();
}

PipeChannel::~PipeChannel() {
    m_peer = UniqueFd();
    m_socket = UniqueFd();
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

bool PipeChannel::Open(bool server, std::string_view id) {
    if (m_opened)
        return m_socket.valid();
    m_opened = true;
    m_server = server;
    m_id = std::string(id);
    const std::string path = PipeSocketPath(id);
    sockaddr_un address;
    if (!FillAddress(path, address))
        return false;
    UniqueFd socket = NewSocket();
    if (!socket.valid())
        return false;
    const auto *raw = reinterpret_cast<const sockaddr *>(&address);
    if (!server) {
        int rc;
        do
            rc = ::connect(socket.get(), raw, sizeof address);
        while (rc != 0 && errno == EINTR);
        if (rc != 0)
            return false;
        m_socket = std::move(socket);
        return true;
    }
    // A socket file left by an earlier server of ours is replaced; anything
    // else under that name is not touched.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode) || info.st_uid != ::getuid())
            return false;
        ::unlink(path.c_str());
    }
    if (::bind(socket.get(), raw, sizeof address) != 0)
        return false;
    m_path = path;
    ::chmod(path.c_str(), 0600);
    if (::listen(socket.get(), kPipeBacklog) != 0)
        return false;
    m_socket = std::move(socket);
    return true;
}

bool PipeChannel::AcceptClient() {
    if (m_peer.valid())
        return true;
    if (!m_socket.valid())
        return false;
    int fd;
    do
        fd = ::accept4(m_socket.get(), nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    m_peer = UniqueFd(fd);
    return m_peer.valid();
}

bool PipeChannel::WriteMessage(std::string_view text) {
    const int fd = m_server ? m_peer.get() : m_socket.get();
    if (fd < 0)
        return false;
    return SendBytes(fd, Utf8ToUtf16Le(text));
}

std::string PipeChannel::Send(std::string_view text) {
    if (m_server && !AcceptClient())
        return {};
    if (!WriteMessage(text))
        return {};
    return ReceiveMessage(m_server ? m_peer.get() : m_socket.get());
}

std::string PipeChannel::SendNumber(int32_t number) {
    return Send(std::to_string(number));
}

std::string PipeChannel::SendValue(uint64_t value) {
    SendNumber(static_cast<int32_t>(static_cast<uint32_t>(value)));
    std::string reply = SendNumber(static_cast<int32_t>(static_cast<uint32_t>(value >> 32)));
    if (reply == kPipeClose)
        m_closed = true;
    return reply;
}

std::string PipeChannel::Read() {
    if (m_server && !AcceptClient())
        return {};
    const int fd = m_server ? m_peer.get() : m_socket.get();
    if (fd < 0)
        return {};
    return ReceiveMessage(fd);
}

bool PipeChannel::Reply(std::string_view text) {
    return WriteMessage(text);
}

} // namespace krv::setup
