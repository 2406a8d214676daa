#include "pipe_progress_sink.h"

#include <string>

namespace krv::setup {

PipeProgressSink::~PipeProgressSink() {
    m_channel.SendClose();
}

void PipeProgressSink::SetTotal(uint64_t total) {
    m_channel.SendNumber(pipe_event::kTotal);
    m_channel.SendValue(total);
}

int PipeProgressSink::ShowModal() {
    if (m_ready)
        m_ready->Signal();
    return dialog_result::kFinished;
}

void PipeProgressSink::Close() {
    m_channel.SendClose();
}

void PipeProgressSink::SetCurrentFile(std::optional<std::string_view> name, int entryId) {
    // The finished file's bytes move into the run's count once; a file that
    // reported no progress must not add the previous position again.
    m_finishedBytes += m_position;
    m_position = 0;
    m_channel.SendNumber(pipe_event::kCurrentFile);
    m_channel.SendNumber(static_cast<int32_t>(entryId));
    m_channel.SendNumber(pipe_event::kFileName);
    // File names are UTF-8 here, the system's own encoding.
    m_channel.Send(name.value_or(std::string_view()));
}

bool PipeProgressSink::Progress(uint64_t written) {
    m_channel.SendNumber(pipe_event::kProgress);
    m_channel.SendValue(m_finishedBytes + written);
    m_position = written;
    return false;
}

bool PipeProgressSink::AskRetry(std::string_view targetPath, uint64_t needed) {
    m_channel.SendNumber(pipe_event::kDiskSpace);
    m_channel.Send(targetPath);
    m_channel.SendValue(needed);
    return !m_channel.Closed();
}

} // namespace krv::setup
