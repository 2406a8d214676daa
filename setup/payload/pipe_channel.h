// The message exchange with a process that called the setup for extraction
// (/groupsextract with /callbackid): the caller serves a local socket that
// keeps message boundaries (AF_UNIX, SOCK_SEQPACKET) named "ToServer" plus
// its id, in the user's runtime folder; the setup connects to it and sends
// every progress event as one message, each answered by one message.
//
// Messages are UTF-16LE texts without a terminator. Numbers travel as signed
// 32-bit decimal text; a 64-bit value as two numbers, the low half and then
// the high half, the reply to the high half being the reply to the value.
// A reply "CLOSE" to a value means the caller wants the work to stop.
#pragma once

#include "unique_fd.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace krv::setup {

// The event codes sent before their data.
namespace pipe_event {
inline constexpr uint32_t kDiskSpace = 0x07000000;   // path, needed bytes (64-bit)
inline constexpr uint32_t kCurrentFile = 0x08000000; // entry id, kFileName, name
inline constexpr uint32_t kFileName = 0x09000000;
inline constexpr uint32_t kProgress = 0x0A000000; // bytes done in the run (64-bit)
inline constexpr uint32_t kTotal = 0x0B000000;    // total bytes of the run (64-bit)
} // namespace pipe_event

inline constexpr std::string_view kPipeClose = "CLOSE";
// Replies are read up to this many bytes.
inline constexpr std::size_t kPipeReadLimit = 32656;
// Connections a server keeps waiting.
inline constexpr int kPipeBacklog = 255;
// How long a send waits for the peer to take the message and for its reply.
// A caller answers at once; one that keeps its end open without answering
// for this long is taken as gone: the channel closes and counts as closed
// ("CLOSE"), so the extraction ends as cancelled instead of hanging.
inline constexpr std::chrono::milliseconds kPipeReplyLimit{60000};

// The socket path for an id: "<runtime folder>/ToServer<id>". The runtime
// folder is $XDG_RUNTIME_DIR when it names an absolute folder, else
// "<temporary folder>/krv-setup-<uid>" (made with mode 0700 when missing; a
// folder that is not ours or open to others is refused). Empty when the id
// holds a separator or a NUL, or the path does not fit a socket address.
std::string PipeSocketPath(std::string_view id);

// UTF-8 to UTF-16LE bytes and back; an odd last byte of a message is
// dropped, invalid sequences become U+FFFD.
std::string Utf8ToUtf16Le(std::string_view text);
std::string Utf16LeToUtf8(std::string_view bytes);

class PipeChannel {
  public:
    PipeChannel() = default;
    ~PipeChannel();
    PipeChannel(const PipeChannel &) = delete;
    PipeChannel &operator=(const PipeChannel &) = delete;

    // Client: connects to the caller's socket. Server: creates the socket
    // (a stale socket file of ours is replaced) and listens. True when the
    // handle is valid; the channel opens once, a second call only reports.
    bool Open(bool server, std::string_view id);
    bool IsOpen() const { return m_socket.valid(); }

    // Sends the text and returns the reply (empty when the channel is not
    // open, the write fails or nothing comes back).
    std::string Send(std::string_view text);
    std::string SendNumber(int32_t number);
    std::string SendNumber(uint32_t code) { return SendNumber(static_cast<int32_t>(code)); }
    // Low half, then high half; a reply "CLOSE" to the value sets Closed.
    std::string SendValue(uint64_t value);
    std::string SendClose() { return Send(kPipeClose); }
    // One message; as server it first accepts a client (once).
    std::string Read();
    // As server: sends a reply to the message read last.
    bool Reply(std::string_view text);

    bool Closed() const { return m_closed; }
    // Tests shorten the wait for a reply (kPipeReplyLimit).
    void SetReplyLimit(std::chrono::milliseconds limit) { m_replyLimit = limit; }

  private:
    bool WriteMessage(std::string_view text);
    bool AcceptClient();
    int PeerFd() const { return m_server ? m_peer.get() : m_socket.get(); }
    // The peer did not answer in time: logged, the connection dropped (every
    // later send returns at once) and the channel closed.
    void GiveUpOnPeer();

    bool m_opened = false;
    bool m_server = false;
    std::string m_id;
    std::string m_path; // server: the socket file to remove
    UniqueFd m_socket;  // client: the connection; server: the listening socket
    UniqueFd m_peer;    // server: the accepted client
    bool m_closed = false;
    std::chrono::milliseconds m_replyLimit = kPipeReplyLimit;
};

} // namespace krv::setup
