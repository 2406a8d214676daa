// The files a run fetches one after the other through the download engine:
// prerequisites to install (and the update checker's newer program). Each
// item knows where its file goes; the list remembers what it downloaded so
// that the files can be removed again when the run ends.
#pragma once

#include "messages.h"
#include "progress_sinks.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

class CredentialProvider;

// The file name a URL suggests, at most 40 characters: the run of valid
// file-name characters that ends the name around the URL's last "." (the
// URL ends before a second "://", as in a redirect URL carried inside
// another). A URL that names no file gets a generated name of its own
// ("download-" and eight hexadecimal digits of the URL's hash).
std::string GuessFileNameFromUrl(std::string_view url);

// The file path of a download: the folder, then the part of the Folder text
// before "?" as a folder, then the part after "?" as the file name (the
// name the URL suggests when that part is empty or there is no "?").
std::string DownloadTargetPath(std::string_view folder, std::string_view folderText,
                               std::string_view url);

namespace download_item {
inline constexpr int32_t kPending = 4; // added, not yet downloaded
inline constexpr int32_t kDone = 0;
} // namespace download_item

struct DownloadItem {
    std::string url;
    uint32_t expectedSize = 0; // 0 = unknown
    uint32_t reserved = 0;
    int32_t pending = download_item::kPending;
    int32_t prerequisiteIndex = -1;
    std::string folderText;
};

// Deletes a download's file and then the folders it leaves empty inside the
// download folder (the folder itself stays).
void DiscardDownloadedFile(const std::string &path, const std::string &folder);

namespace download_check {
inline constexpr int kAccepted = 0;
inline constexpr int kWrongSize = 1;
inline constexpr int kWrongMd5 = 2;
} // namespace download_check

// The check a download passes before it is accepted, run on the download's
// worker: armed before the transfer starts, told the size the server
// announces, and finished once the file is complete. Its file I/O (the size
// on disk, the MD5, deleting a refused file) stays off the interface thread.
class DownloadCheck {
  public:
    DownloadCheck() = default;
    // expectedSize 0: unknown; md5 empty: the file's MD5 is not checked.
    DownloadCheck(std::string path, std::string folder, uint64_t expectedSize, std::string md5);

    // The size the server announced (0: none). False when it contradicts
    // the expected size: the download is refused at once and Finish checks
    // nothing.
    bool Announce(uint64_t size);
    // The finished file: its size on disk when the server announced none
    // (against the expected size) or announced the only size known, then
    // its MD5. beforeMd5 runs just before the MD5 is computed. A file whose
    // MD5 is wrong is discarded (DiscardDownloadedFile); a file of the wrong
    // size is kept. download_check::kAccepted, kWrongSize or kWrongMd5.
    int Finish(const std::function<void()> &beforeMd5);
    // The size found on disk by the last Finish (0 when it looked at none).
    uint64_t FileSize() const { return m_fileSize; }

  private:
    std::string m_path;
    std::string m_folder;
    uint64_t m_expectedSize = 0;
    std::string m_md5;
    bool m_refused = false;
    bool m_sizeAtEnd = false;
    uint64_t m_fileSize = 0;
};

namespace download_result {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 5;
} // namespace download_result

class DownloadList {
  public:
    // folderReady false: the folder goes through SetFolder (a trailing
    // separator added, FolderSet true).
    // Certificate questions of its downloads go through the messages.
    DownloadList(std::string folder, bool folderReady, SetupMessages messages);
    // Deletes the files recorded for deletion.
    ~DownloadList();
    DownloadList(const DownloadList &) = delete;
    DownloadList &operator=(const DownloadList &) = delete;

    void SetFolder(std::string folder);
    const std::string &Folder() const { return m_folder; }
    bool FolderSet() const { return m_folderSet; }
    void SetCredentialProvider(CredentialProvider *provider) { m_provider = provider; }
    CredentialProvider *Credentials() const { return m_provider; }
    void SetSink(ProgressSink *sink) { m_sink = sink; }
    // The folder is kept for resumes (the user's cache): a download a stop
    // cuts keeps its ".part" there, as a cancelled one does.
    void SetKeepPartOnStop(bool keep) { m_keepPartOnStop = keep; }
    ProgressSink *Sink() const { return m_sink; }
    // The download engine's last error after a failure, 0 after a success.
    uint32_t LastError() const { return m_lastError; }

    void AddDownloadItem(std::string url, uint32_t expectedSize, int32_t prerequisiteIndex,
                         int32_t pending, std::string folderText);
    const std::vector<DownloadItem> &Items() const { return m_items; }
    // Downloads the item (resume allowed) and waits: 0, or 5 when it failed
    // or the index is out of range.
    int DownloadListItem(std::size_t index);
    std::string GetDownloadTargetPath(const DownloadItem &item) const;

    void RecordFileForDeletion(std::string path);
    const std::vector<std::string> &FilesToDelete() const { return m_filesToDelete; }
    // Forgets the items, the sink and the files to delete.
    void ClearDownloadList();
    // Deletes each recorded file (and nothing else); the record empties.
    void DeleteDownloadedFiles();

  private:
    std::string m_folder;
    std::vector<DownloadItem> m_items;
    bool m_folderSet = false;
    CredentialProvider *m_provider = nullptr;
    ProgressSink *m_sink = nullptr;
    SetupMessages m_messages;
    uint32_t m_lastError = 0;
    bool m_keepPartOnStop = false;
    std::vector<std::string> m_filesToDelete;
};

} // namespace krv::setup
