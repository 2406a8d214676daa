#include "md5.h"

#include "paths.h"
#include "unique_fd.h"

#include <cerrno>
#include <memory>
#include <vector>

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

namespace {

constexpr std::size_t kBlockSize = 65536;

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};

} // namespace

bool ComputeFileMd5(std::string_view path, uint64_t trailingBytes, Md5Digest &digest) {
    const UniqueFd file = OpenForReading(ToNativePath(path));
    return file.valid() && ComputeOpenFileMd5(file.get(), trailingBytes, digest);
}

bool ComputeOpenFileMd5(int fd, uint64_t trailingBytes, Md5Digest &digest) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
        return false;
    auto size = static_cast<uint64_t>(st.st_size);
    if (size <= trailingBytes)
        return false;
    uint64_t remaining = size - trailingBytes;

    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1)
        return false;
    std::vector<unsigned char> block(kBlockSize);
    uint64_t offset = 0;
    while (remaining > 0) {
        std::size_t want =
            remaining < kBlockSize ? static_cast<std::size_t>(remaining) : kBlockSize;
        ssize_t got = ::pread(fd, block.data(), want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false; // read error, or the file shrank under us
        if (EVP_DigestUpdate(ctx.get(), block.data(), static_cast<std::size_t>(got)) != 1)
            return false;
        remaining -= static_cast<uint64_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    unsigned int length = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    if (EVP_DigestFinal_ex(ctx.get(), out, &length) != 1 || length != digest.size())
        return false;
    std::copy(out, out + digest.size(), digest.begin());
    return true;
}

namespace {

std::string HexOf(const Md5Digest &digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

bool MatchesHex(std::string_view expectedHex, const std::string &actual) {
    for (std::size_t i = 0; i < 32; ++i) {
        char e = expectedHex[i];
        if (e >= 'A' && e <= 'F')
            e = static_cast<char>(e - 'A' + 'a');
        if (e != actual[i])
            return false;
    }
    return true;
}

} // namespace

bool ComputeFileMd5Hex(std::string_view path, uint64_t trailingBytes, std::string &hex) {
    Md5Digest digest;
    if (!ComputeFileMd5(path, trailingBytes, digest))
        return false;
    hex = HexOf(digest);
    return true;
}

bool VerifyFileMd5(std::string_view path, std::string_view expectedHex, uint64_t trailingBytes) {
    Md5Digest digest;
    return expectedHex.size() >= 32 && ComputeFileMd5(path, trailingBytes, digest) &&
           MatchesHex(expectedHex, HexOf(digest));
}

bool VerifyOpenFileMd5(int fd, std::string_view expectedHex) {
    Md5Digest digest;
    return expectedHex.size() >= 32 && ComputeOpenFileMd5(fd, 0, digest) &&
           MatchesHex(expectedHex, HexOf(digest));
}

} // namespace krv::setup
