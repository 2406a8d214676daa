// Extraction progress for a calling process: every event of the extraction
// goes over the PipeChannel as the caller expects it. The sink shows no
// window; its ShowModal only lets the extraction worker start.
#pragma once

#include "pipe_channel.h"
#include "progress_sinks.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace krv::setup {

class PipeProgressSink : public ExtractionProgressSink, public DiskSpacePrompt {
  public:
    // The channel is not owned and must outlive the sink.
    explicit PipeProgressSink(PipeChannel &channel) : m_channel(channel) {}
    // Tells the caller that the exchange ends ("CLOSE").
    ~PipeProgressSink() override;
    PipeProgressSink(const PipeProgressSink &) = delete;
    PipeProgressSink &operator=(const PipeProgressSink &) = delete;

    void SetTotal(uint64_t total) override;
    int ShowModal() override;
    void Close() override;
    void SetReadyEvent(AutoResetEvent *event) override { m_ready = event; }
    void SetCurrentFile(std::optional<std::string_view> name, int entryId) override;
    bool Progress(uint64_t written) override;
    bool IsCancelled() override { return m_channel.Closed(); }

    // Reports the lack of space to the caller; true (go on) unless the
    // caller has asked to stop.
    bool AskRetry(std::string_view targetPath, uint64_t needed) override;

  private:
    PipeChannel &m_channel;
    AutoResetEvent *m_ready = nullptr;
    uint64_t m_finishedBytes = 0; // bytes of the files before the current one
    uint64_t m_position = 0;      // last position reported for the current file
};

} // namespace krv::setup
