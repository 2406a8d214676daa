#include "download_list.h"

#include "download_session.h"
#include "files.h"
#include "md5.h"
#include "paths.h"
#include "run_stop.h"

#include <cstdio>

#include <unistd.h>

namespace krv::setup {
namespace {

constexpr std::size_t kMaxGuessedName = 40;

bool IsFileNameChar(char c) {
    switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return false;
    default:
        return true;
    }
}

// FNV-1a: the same URL always gives the same name, so a download that was
// interrupted (by a restart, say) is found again under it.
uint32_t UrlHash(std::string_view url) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : url) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

} // namespace

std::string GuessFileNameFromUrl(std::string_view url) {
    // The end is exclusive: the name may run up to the URL's last character.
    std::size_t end = url.size();
    if (const std::size_t first = url.find("://"); first != std::string_view::npos) {
        if (const std::size_t second = url.find("://", first + 4); second != std::string_view::npos)
            end = second;
    }
    std::size_t nameEnd = end;
    const std::size_t dot = url.substr(0, end).rfind('.');
    if (dot != std::string_view::npos) {
        std::size_t i = dot;
        while (i < end && IsFileNameChar(url[i]))
            ++i;
        nameEnd = i;
    }
    std::size_t nameStart = nameEnd;
    while (nameStart > 0 && nameEnd - nameStart < kMaxGuessedName &&
           IsFileNameChar(url[nameStart - 1]))
        --nameStart;
    if (nameStart < nameEnd)
        return std::string(url.substr(nameStart, nameEnd - nameStart));
    char generated[32];
    std::snprintf(generated, sizeof generated, "download-%08x", UrlHash(url));
    return generated;
}

std::string DownloadTargetPath(std::string_view folder, std::string_view folderText,
                               std::string_view url) {
    std::string path(folder);
    AddTrailingBackslash(path);
    std::string_view subfolder = folderText;
    std::string_view name;
    if (const std::size_t question = folderText.find('?'); question != std::string_view::npos) {
        subfolder = folderText.substr(0, question);
        name = folderText.substr(question + 1);
    }
    std::string sub(subfolder);
    AddTrailingBackslash(sub);
    path += sub;
    path += name.empty() ? GuessFileNameFromUrl(url) : std::string(name);
    return path;
}

void DiscardDownloadedFile(const std::string &path, const std::string &folder) {
    ::unlink(ToNativePath(path).c_str());
    RemoveEmptyFolderChain(GetFolderPart(path), folder);
}

DownloadCheck::DownloadCheck(std::string path, std::string folder, uint64_t expectedSize,
                             std::string md5)
    : m_path(std::move(path)), m_folder(std::move(folder)), m_expectedSize(expectedSize),
      m_md5(std::move(md5)) {}

bool DownloadCheck::Announce(uint64_t size) {
    if (size < 1) {
        m_sizeAtEnd = m_expectedSize != 0;
        return true;
    }
    if (m_expectedSize != 0) {
        m_refused = m_expectedSize != size;
        return !m_refused;
    }
    m_expectedSize = size;
    m_sizeAtEnd = true;
    return true;
}

int DownloadCheck::Finish(const std::function<void()> &beforeMd5) {
    m_fileSize = 0;
    if (m_refused)
        return download_check::kWrongSize;
    if (m_sizeAtEnd) {
        m_fileSize = GetPathFileSize(m_path);
        if (m_fileSize != m_expectedSize)
            return download_check::kWrongSize;
    }
    if (m_md5.empty())
        return download_check::kAccepted;
    if (beforeMd5)
        beforeMd5();
    if (VerifyFileMd5(m_path, m_md5, 0))
        return download_check::kAccepted;
    DiscardDownloadedFile(m_path, m_folder);
    return download_check::kWrongMd5;
}

DownloadList::DownloadList(std::string folder, bool folderReady, SetupMessages messages)
    : m_messages(std::move(messages)) {
    if (folderReady)
        m_folder = std::move(folder);
    else
        SetFolder(std::move(folder));
}

DownloadList::~DownloadList() {
    DeleteDownloadedFiles();
}

void DownloadList::SetFolder(std::string folder) {
    AddTrailingBackslash(folder);
    m_folder = std::move(folder);
    m_folderSet = true;
}

void DownloadList::AddDownloadItem(std::string url, uint32_t expectedSize,
                                   int32_t prerequisiteIndex, int32_t pending,
                                   std::string folderText) {
    DownloadItem item;
    item.url = std::move(url);
    item.expectedSize = expectedSize;
    item.pending = pending;
    item.prerequisiteIndex = prerequisiteIndex;
    item.folderText = std::move(folderText);
    m_items.push_back(std::move(item));
}

std::string DownloadList::GetDownloadTargetPath(const DownloadItem &item) const {
    return DownloadTargetPath(m_folder, item.folderText, item.url);
}

int DownloadList::DownloadListItem(std::size_t index) {
    if (index >= m_items.size())
        return download_result::kFailed;
    DownloadItem &item = m_items[index];
    DownloadSession session(m_provider, m_folder, m_sink, m_messages);
    session.SetKeepPartOnStop(m_keepPartOnStop);
    uint32_t result = session.Start(item.url, ToNativePath(GetDownloadTargetPath(item)), nullptr,
                                    true, "", false);
    if (result == 0)
        result = session.Wait();
    if (result != 0) {
        m_lastError = session.GetErrorCode() != 0 ? session.GetErrorCode() : result;
        return download_result::kFailed;
    }
    m_lastError = 0;
    item.pending = download_item::kDone;
    return download_result::kOk;
}

void DownloadList::RecordFileForDeletion(std::string path) {
    // Downloads may lie in a folder that outlives the run: a stop between
    // two steps takes them too.
    AddRemovedOnStop(path, false);
    m_filesToDelete.push_back(std::move(path));
}

void DownloadList::ClearDownloadList() {
    m_items.clear();
    m_sink = nullptr;
    for (const std::string &path : m_filesToDelete)
        DropRemovedOnStop(path);
    m_filesToDelete.clear();
}

void DownloadList::DeleteDownloadedFiles() {
    for (const std::string &path : m_filesToDelete) {
        DropRemovedOnStop(path);
        ::unlink(ToNativePath(path).c_str());
    }
    m_filesToDelete.clear();
}

} // namespace krv::setup
