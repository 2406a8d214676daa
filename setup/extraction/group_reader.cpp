#include "group_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <lzma.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace krv::extraction {

namespace {

constexpr std::size_t kReadBlock = 256 * 1024;

struct LibraryState {
    uint64_t fileSize = 0;
    uint64_t total = 0; // 0 until TotalSize found it
};

// Reads the group as one stream through libarchive's client callbacks.
struct GroupSource {
    ExtractionContext *context;
    uint64_t position = 0;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(kReadBlock);
};

bool ReadAt(int fd, uint64_t offset, unsigned char *buffer, std::size_t length) {
    while (length > 0) {
        const ssize_t got = pread(fd, buffer, length, static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        buffer += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

la_ssize_t ReadGroup(struct archive *archive, void *data, const void **block) {
    auto *source = static_cast<GroupSource *>(data);
    ExtractionContext *context = source->context;
    const uint64_t left = context->groupSize - source->position;
    const std::size_t length = left < kReadBlock ? static_cast<std::size_t>(left) : kReadBlock;
    *block = source->buffer.data();
    if (length == 0)
        return 0;
    if (!ReadAt(context->sourceFile, context->groupOffset + source->position, source->buffer.data(),
                length)) {
        archive_set_error(archive, EIO, "short read of the group");
        return -1;
    }
    if (context->descrambler)
        context->descrambler->transform(context->descrambler->self, source->buffer.data(), length);
    source->position += length;
    return static_cast<la_ssize_t>(length);
}

struct ArchiveCloser {
    void operator()(struct archive *archive) const { archive_read_free(archive); }
};
struct DiskCloser {
    void operator()(struct archive *archive) const { archive_write_free(archive); }
};
using ReadArchive = std::unique_ptr<struct archive, ArchiveCloser>;
using DiskWriter = std::unique_ptr<struct archive, DiskCloser>;

// A fresh pass over the group: the descrambler starts at the stream's start.
ReadArchive OpenGroup(GroupSource &source) {
    ExtractionContext *context = source.context;
    if (context->descrambler)
        context->descrambler->setWindowLength(context->descrambler->self, KRV_SCRAMBLE_WINDOW);
    ReadArchive archive(archive_read_new());
    if (!archive)
        return nullptr;
    archive_read_support_filter_xz(archive.get());
    archive_read_support_format_tar(archive.get());
    if (archive_read_open(archive.get(), &source, nullptr, ReadGroup, nullptr) != ARCHIVE_OK)
        return nullptr;
    return archive;
}

void EndPass(ExtractionContext *context) {
    if (context->descrambler)
        context->descrambler->clearWindowLength(context->descrambler->self);
}

// The uncompressed size recorded in the xz index at the end of the group;
// 0 when the tail is not one plain xz stream (or lies in the scrambled
// window), so the caller counts by reading instead.
uint64_t SizeFromIndex(ExtractionContext *context) {
    uint64_t end = context->groupSize;
    unsigned char footer[LZMA_STREAM_HEADER_SIZE];
    // Stream padding: zero bytes in groups of four after the stream.
    while (end >= 4 + LZMA_STREAM_HEADER_SIZE) {
        unsigned char pad[4];
        if (!ReadAt(context->sourceFile, context->groupOffset + end - 4, pad, 4))
            return 0;
        if (pad[0] || pad[1] || pad[2] || pad[3])
            break;
        end -= 4;
    }
    if (end < 2 * LZMA_STREAM_HEADER_SIZE)
        return 0;
    const uint64_t footerAt = end - LZMA_STREAM_HEADER_SIZE;
    if (!ReadAt(context->sourceFile, context->groupOffset + footerAt, footer, sizeof footer))
        return 0;
    lzma_stream_flags flags;
    if (lzma_stream_footer_decode(&flags, footer) != LZMA_OK)
        return 0;
    if (flags.backward_size > footerAt - LZMA_STREAM_HEADER_SIZE ||
        flags.backward_size > 64 * 1024 * 1024)
        return 0;
    const uint64_t indexAt = footerAt - flags.backward_size;
    if (context->descrambler && indexAt < KRV_SCRAMBLE_WINDOW)
        return 0;
    std::vector<unsigned char> index(flags.backward_size);
    if (!ReadAt(context->sourceFile, context->groupOffset + indexAt, index.data(), index.size()))
        return 0;
    lzma_index *decoded = nullptr;
    uint64_t memlimit = UINT64_MAX;
    std::size_t position = 0;
    if (lzma_index_buffer_decode(&decoded, &memlimit, nullptr, index.data(), &position,
                                 index.size()) != LZMA_OK)
        return 0;
    // Only when this one stream is the whole group does its index count it.
    const uint64_t streamSize = lzma_index_file_size(decoded);
    const uint64_t size = streamSize == end ? lzma_index_uncompressed_size(decoded) : 0;
    lzma_index_end(decoded, nullptr);
    return size;
}

// "a/./b/" -> "a/b"; false for an absolute name or a ".." component.
bool NormaliseName(const std::string &name, std::string &out) {
    out.clear();
    if (name.empty() || name[0] == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out += part;
        }
        start = end + 1;
    }
    return true;
}

int Report(ExtractionContext *context, const char *file, uint64_t done) {
    return context->progress ? context->progress(context->progressArgument, file, done) : 0;
}

std::string RealFolder(const char *folder) {
    char resolved[PATH_MAX];
    if (!realpath(folder, resolved))
        return {};
    std::string out = resolved;
    if (out.empty() || out.back() != '/')
        out += '/';
    return out;
}

bool AllowedType(mode_t type) {
    return type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK;
}

} // namespace

bool SafeMemberName(const std::string &name) {
    std::string normalised;
    return NormaliseName(name, normalised) && !normalised.empty();
}

bool SafeLinkTarget(const std::string &linkName, const std::string &target) {
    std::string normalisedLink;
    if (target.empty() || target[0] == '/' || !NormaliseName(linkName, normalisedLink))
        return false;
    // Depth of the link's folder, then walk the target from there. A ".."
    // may only lead the target: after a name it would climb out of whatever
    // that name is on disk, and an earlier link of the group ("y" -> ".")
    // makes "y/.." the folder's parent.
    int depth = 0;
    for (char c : normalisedLink)
        depth += c == '/';
    bool named = false;
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        const std::string part = target.substr(start, end - start);
        if (part == "..") {
            if (named || --depth < 0)
                return false;
        } else if (!part.empty() && part != ".") {
            named = true;
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

int Init(ExtractionContext *context) {
    if (!context || context->sourceFile < 0 || context->libraryState)
        return KRV_EXTRACT_FAILED;
    struct stat info;
    if (fstat(context->sourceFile, &info) != 0 || !S_ISREG(info.st_mode))
        return KRV_EXTRACT_FAILED;
    const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    // The group must lie inside the file.
    if (context->groupOffset > fileSize || context->groupSize > fileSize - context->groupOffset)
        return KRV_EXTRACT_FAILED;
    if (memchr(context->outputFolder, 0, sizeof context->outputFolder) == nullptr)
        return KRV_EXTRACT_FAILED;
    auto *state = new (std::nothrow) LibraryState;
    if (!state)
        return KRV_EXTRACT_FAILED;
    state->fileSize = fileSize;
    context->libraryState = state;
    return KRV_EXTRACT_OK;
}

uint64_t TotalSize(ExtractionContext *context) {
    auto *state = context ? static_cast<LibraryState *>(context->libraryState) : nullptr;
    if (!state)
        return 0;
    if (state->total == 0)
        state->total = SizeFromIndex(context);
    if (state->total == 0) {
        GroupSource source{context};
        ReadArchive archive = OpenGroup(source);
        struct archive_entry *entry;
        bool complete = false;
        if (archive) {
            int status;
            while ((status = archive_read_next_header(archive.get(), &entry)) == ARCHIVE_OK)
                archive_read_data_skip(archive.get());
            complete = status == ARCHIVE_EOF;
            if (complete)
                state->total = static_cast<uint64_t>(archive_filter_bytes(archive.get(), 0));
        }
        EndPass(context);
    }
    return state->total;
}

bool ListMembers(ExtractionContext *context, const std::function<void(const std::string &)> &each) {
    GroupSource source{context};
    ReadArchive archive = OpenGroup(source);
    bool complete = false;
    if (archive) {
        struct archive_entry *entry;
        int status;
        std::string name;
        while ((status = archive_read_next_header(archive.get(), &entry)) == ARCHIVE_OK) {
            const char *path = archive_entry_pathname(entry);
            if (path && NormaliseName(path, name) && !name.empty())
                each(name);
            archive_read_data_skip(archive.get());
        }
        complete = status == ARCHIVE_EOF;
    }
    EndPass(context);
    return complete;
}

int ExtractAll(ExtractionContext *context) {
    auto *state = context ? static_cast<LibraryState *>(context->libraryState) : nullptr;
    if (!state)
        return KRV_EXTRACT_FAILED;
    const std::string folder = RealFolder(context->outputFolder);
    if (folder.empty())
        return KRV_EXTRACT_FAILED;
    GroupSource source{context};
    ReadArchive archive = OpenGroup(source);
    DiskWriter disk(archive_write_disk_new());
    if (!archive || !disk) {
        EndPass(context);
        return KRV_EXTRACT_FAILED;
    }
    // Names are checked here and then placed under the real output folder,
    // which has no symbolic link in it; libarchive refuses ".." and any
    // write through a symbolic link inside the tree.
    archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_TIME |
                                                   ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                   ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    int result = KRV_EXTRACT_OK;
    std::string name, target, linkName;
    std::string partial; // a regular file being written
    struct archive_entry *entry;
    for (;;) {
        int status = archive_read_next_header(archive.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            result = KRV_EXTRACT_FAILED;
            break;
        }
        const char *path = archive_entry_pathname(entry);
        if (!path || !NormaliseName(path, name) || !AllowedType(archive_entry_filetype(entry))) {
            result = KRV_EXTRACT_FAILED;
            break;
        }
        if (name.empty())
            continue; // the archive's own top folder "./"
        if (const char *link = archive_entry_symlink(entry)) {
            if (archive_entry_filetype(entry) == AE_IFLNK && !SafeLinkTarget(name, link)) {
                result = KRV_EXTRACT_FAILED;
                break;
            }
        }
        if (const char *hard = archive_entry_hardlink(entry)) {
            if (!NormaliseName(hard, linkName) || linkName.empty()) {
                result = KRV_EXTRACT_FAILED;
                break;
            }
            const std::string hardTarget = folder + linkName;
            archive_entry_copy_hardlink(entry, hardTarget.c_str());
        }
        target = folder + name;
        archive_entry_copy_pathname(entry, target.c_str());
        if (Report(context, target.c_str(),
                   static_cast<uint64_t>(archive_filter_bytes(archive.get(), 0)))) {
            result = KRV_EXTRACT_CANCELLED;
            break;
        }
        if (archive_write_header(disk.get(), entry) != ARCHIVE_OK) {
            result = KRV_EXTRACT_FAILED;
            break;
        }
        if (archive_entry_filetype(entry) == AE_IFREG && !archive_entry_hardlink(entry))
            partial = target;
        const void *block;
        size_t length;
        la_int64_t offset;
        while ((status = archive_read_data_block(archive.get(), &block, &length, &offset)) ==
               ARCHIVE_OK) {
            if (archive_write_data_block(disk.get(), block, length, offset) < 0) {
                result = KRV_EXTRACT_FAILED;
                break;
            }
            if (Report(context, nullptr,
                       static_cast<uint64_t>(archive_filter_bytes(archive.get(), 0)))) {
                result = KRV_EXTRACT_CANCELLED;
                break;
            }
        }
        if (result == KRV_EXTRACT_OK && status != ARCHIVE_EOF)
            result = KRV_EXTRACT_FAILED;
        if (result != KRV_EXTRACT_OK)
            break;
        if (archive_write_finish_entry(disk.get()) != ARCHIVE_OK) {
            result = KRV_EXTRACT_FAILED;
            break;
        }
        partial.clear();
    }
    if (result == KRV_EXTRACT_OK && archive_write_close(disk.get()) != ARCHIVE_OK)
        result = KRV_EXTRACT_FAILED;
    if (result != KRV_EXTRACT_OK && !partial.empty())
        unlink(partial.c_str()); // never leave half a file behind
    if (result == KRV_EXTRACT_OK) {
        const uint64_t done = static_cast<uint64_t>(archive_filter_bytes(archive.get(), 0));
        Report(context, nullptr, state->total > done ? state->total : done);
    }
    EndPass(context);
    return result;
}

void End(ExtractionContext *context) {
    if (!context)
        return;
    delete static_cast<LibraryState *>(context->libraryState);
    context->libraryState = nullptr;
}

} // namespace krv::extraction
