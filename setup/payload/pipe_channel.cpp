#include "pipe_channel.h"

#include "files.h"
#include "log.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace krv::setup {

namespace {

constexpr std::string_view kPipePrefix = "ToServer";

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

using Clock = std::chrono::steady_clock;

enum class Outcome { kDone, kFailed, kTimedOut };

// Waits until the socket is ready for `events` or the deadline passes.
Outcome WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Outcome::kTimedOut;
        pollfd request{fd, events, 0};
        const int rc = ::poll(&request, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        if (rc < 0 && errno != EINTR)
            return Outcome::kFailed;
        if (rc > 0)
            return Outcome::kDone; // a hang-up or error shows in the send or receive
    }
}

// One message; an empty text when the peer has gone or sent nothing.
Outcome ReceiveMessage(int fd, Clock::time_point deadline, std::string &text) {
    text.clear();
    std::vector<char> buffer(kPipeReadLimit);
    for (;;) {
        if (const Outcome ready = WaitFor(fd, POLLIN, deadline); ready != Outcome::kDone)
            return ready;
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (got <= 0)
            return Outcome::kFailed;
        text = Utf16LeToUtf8(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        return Outcome::kDone;
    }
}

// The whole message or nothing: the socket keeps message boundaries.
Outcome SendBytes(int fd, const std::string &bytes, Clock::time_point deadline) {
    for (;;) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The peer's queue is full: wait for room, as long as a reply.
            if (const Outcome ready = WaitFor(fd, POLLOUT, deadline); ready != Outcome::kDone)
                return ready;
            continue;
        }
        return sent == static_cast<ssize_t>(bytes.size()) ? Outcome::kDone : Outcome::kFailed;
    }
}

} // namespace

std::string PipeSocketPath(std::string_view id) {
    if (id.find('/') != std::string_view::npos || id.find('\0') != std::string_view::npos)
        return {};
    const std::string folder = UserRuntimeFolder();
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
    const int fd = PeerFd();
    if (fd < 0)
        return false;
    const Outcome sent = SendBytes(fd, Utf8ToUtf16Le(text), Clock::now() + m_replyLimit);
    if (sent == Outcome::kTimedOut)
        GiveUpOnPeer();
    return sent == Outcome::kDone;
}

void PipeChannel::GiveUpOnPeer() {
    LogLine("The calling process did not answer within " + std::to_string(m_replyLimit.count()) +
            " ms; the extraction is cancelled.");
    m_closed = true;
    if (m_server)
        m_peer = UniqueFd();
    else
        m_socket = UniqueFd();
}

std::string PipeChannel::Send(std::string_view text) {
    if (m_server && !AcceptClient())
        return {};
    if (!WriteMessage(text))
        return {};
    std::string reply;
    if (ReceiveMessage(PeerFd(), Clock::now() + m_replyLimit, reply) == Outcome::kTimedOut)
        GiveUpOnPeer();
    return reply;
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
    const int fd = PeerFd();
    if (fd < 0)
        return {};
    // Reading waits for the peer's next message as long as it takes.
    std::string text;
    ReceiveMessage(fd, Clock::time_point::max(), text);
    return text;
}

bool PipeChannel::Reply(std::string_view text) {
    return WriteMessage(text);
}

} // namespace krv::setup
