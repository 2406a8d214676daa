#include "codepage.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace krv::platform {
namespace {

constexpr char kReplacement = '?';

// Owns one iconv descriptor. A descriptor keeps shift state, so each holder
// serves one conversion on one thread.
class IconvHandle {
  public:
    IconvHandle(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (Valid())
            iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle &) = delete;
    IconvHandle &operator=(const IconvHandle &) = delete;

    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }
    void Reset() const { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

  private:
    iconv_t m_cd;
};

// Converts one whole input through `cd`; empty when iconv refuses it.
std::string ConvertWhole(const IconvHandle &cd, std::string_view in) {
    cd.Reset();
    std::string out(in.size() * 4 + 8, '\0');
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    char *dst = out.data();
    size_t dstLeft = out.size();
    if (iconv(cd.Get(), &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0)
        return {};
    out.resize(out.size() - dstLeft);
    return out;
}

using ByteTable = std::array<char, 256>;

// A single-byte page to another, built by passing each byte once through
// iconv. Bytes without a counterpart (or without a character at all) map to
// the replacement character. Control and ASCII bytes are the same in both
// pages and map to themselves.
ByteTable BuildByteTable(const char *to, const char *from) {
    ByteTable table{};
    IconvHandle cd(to, from);
    for (int b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        if (b < 0x80) {
            table[b] = in;
            continue;
        }
        const std::string out = cd.Valid() ? ConvertWhole(cd, std::string_view(&in, 1)) : "";
        table[b] = out.size() == 1 ? out[0] : kReplacement;
    }
    return table;
}

// Windows-1251 byte -> its UTF-8 form, empty for the one unassigned byte.
using Utf8Table = std::array<std::string, 256>;

Utf8Table BuildUtf8Table() {
    Utf8Table table;
    IconvHandle cd("UTF-8", "CP1251");
    for (int b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        if (b < 0x80)
            table[b] = std::string(1, in);
        else if (cd.Valid())
            table[b] = ConvertWhole(cd, std::string_view(&in, 1));
    }
    return table;
}

// Function-local statics are initialised once, thread-safely.
const ByteTable &AnsiToOemTable() {
    static const ByteTable table = BuildByteTable("CP866", "CP1251");
    return table;
}
const ByteTable &OemToAnsiTable() {
    static const ByteTable table = BuildByteTable("CP1251", "CP866");
    return table;
}
const Utf8Table &Cp1251Utf8Table() {
    static const Utf8Table table = BuildUtf8Table();
    return table;
}

std::string MapBytes(const ByteTable &table, std::string_view in) {
    std::string out(in.size(), '\0');
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = table[static_cast<unsigned char>(in[i])];
    return out;
}

// Length of the well-formed UTF-8 sequence that starts `in`, or 0 when the
// bytes there are not one (stray continuation byte, overlong form, surrogate,
// beyond U+10FFFF, or cut short).
size_t Utf8SequenceLength(std::string_view in) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(in[i]); };
    const unsigned char lead = byte(0);
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0)
            lo = 0xA0;
        if (lead == 0xED)
            hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0)
            lo = 0x90;
        if (lead == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (in.size() < len)
        return 0;
    if (byte(1) < lo || byte(1) > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return len;
}

} // namespace

std::string AnsiToOem(std::string_view cp1251) {
    return MapBytes(AnsiToOemTable(), cp1251);
}

std::string AnsiToPrinterText(std::string_view cp1251) {
    std::string text(cp1251);
    for (char &c : text) {
        switch (static_cast<unsigned char>(c)) {
        case 0xB2: // І
            c = 'I';
            break;
        case 0xB3: // і
            c = 'i';
            break;
        case 0xB9: // №
            c = 'N';
            break;
        case 0xA5: // Ґ, drawn from the byte of Ў
            c = static_cast<char>(0xA1);
            break;
        case 0xB4: // ґ, drawn from the byte of ў
            c = static_cast<char>(0xA2);
            break;
        default:
            break;
        }
    }
    return AnsiToOem(text);
}

std::string OemToAnsi(std::string_view cp866) {
    return MapBytes(OemToAnsiTable(), cp866);
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
    const Utf8Table &table = Cp1251Utf8Table();
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (const char c : cp1251) {
        const std::string &utf8 = table[static_cast<unsigned char>(c)];
        if (utf8.empty())
            out += kReplacement;
        else
            out += utf8;
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    IconvHandle cd("CP1251", "UTF-8");
    if (!cd.Valid()) {
        // No converter at all: keep what is plain ASCII and mark the rest.
        for (size_t i = 0; i < utf8.size();) {
            const size_t len = Utf8SequenceLength(utf8.substr(i));
            out += len == 1 ? utf8[i] : kReplacement;
            i += len == 0 ? 1 : len;
        }
        return out;
    }

    // Convert in runs; where iconv stops at a character it cannot take, that
    // character (or, for malformed input, that byte) becomes one '?' and the
    // run goes on after it.
    char *src = const_cast<char *>(utf8.data());
    size_t srcLeft = utf8.size();
    std::array<char, 1024> buffer;
    while (srcLeft > 0) {
        char *dst = buffer.data();
        size_t dstLeft = buffer.size();
        const size_t rc = iconv(cd.Get(), &src, &srcLeft, &dst, &dstLeft);
        const int err = errno;
        out.append(buffer.data(), buffer.size() - dstLeft);
        if (rc != static_cast<size_t>(-1))
            break;
        if (err == E2BIG)
            continue;
        // EILSEQ or EINVAL (cut short at the end) or anything unexpected.
        const size_t len = Utf8SequenceLength(std::string_view(src, srcLeft));
        const size_t skip = len == 0 ? 1 : len;
        out += kReplacement;
        src += skip;
        srcLeft -= skip;
        cd.Reset();
    }
    return out;
}

} // namespace krv::platform
