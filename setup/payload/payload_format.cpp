#include "payload_format.h"

#include <cstring>

namespace krv::setup::payload {

namespace {

constexpr unsigned char kScrambleKey[16] = {0x4B, 0x91, 0x2E, 0xD7, 0x63, 0x08, 0xBA, 0x5F,
                                            0xC4, 0x17, 0x7A, 0xE9, 0x30, 0xA6, 0x8D, 0x52};

// The magic XORed with a mask that is read through a volatile, so the
// compiler cannot fold the two into the plain magic in the program's bytes.
constexpr unsigned char kMaskedMagic[kMagicSize] = {0x0A, 0x1B, 0x08, 0x0C, 0x1F,
                                                    0x02, 0x0E, 0x09, 0x1C, 0x02};
volatile unsigned char g_magicMask = 0x5A;

} // namespace

std::string PayloadMagic() {
    std::string magic(kMagicSize, '\0');
    for (std::size_t i = 0; i < kMagicSize; ++i)
        magic[i] = static_cast<char>(kMaskedMagic[i] ^ g_magicMask);
    return magic;
}

void PutU32(unsigned char *at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetU32(const unsigned char *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

std::array<unsigned char, kFooterSize> EncodeFooter(const PayloadFooter &footer) {
    std::array<unsigned char, kFooterSize> out{};
    PutU32(&out[0], footer.nameCount);
    PutU32(&out[4], footer.nameTableOffset);
    PutU32(&out[8], footer.entryCount);
    PutU32(&out[12], footer.version);
    PutU32(&out[16], footer.footerDistance);
    PutU32(&out[20], footer.entryTableOffset);
    PutU32(&out[24], footer.reserved);
    std::memcpy(&out[28], footer.packageId.data(), kPackageIdSize);
    PutU32(&out[60], footer.flags);
    const std::string magic = PayloadMagic();
    std::memcpy(&out[kMagicOffset], magic.data(), kMagicSize);
    return out;
}

PayloadFooter DecodeFooter(const unsigned char *bytes) {
    PayloadFooter footer;
    footer.nameCount = GetU32(bytes);
    footer.nameTableOffset = GetU32(bytes + 4);
    footer.entryCount = GetU32(bytes + 8);
    footer.version = GetU32(bytes + 12);
    footer.footerDistance = GetU32(bytes + 16);
    footer.entryTableOffset = GetU32(bytes + 20);
    footer.reserved = GetU32(bytes + 24);
    std::memcpy(footer.packageId.data(), bytes + 28, kPackageIdSize);
    footer.flags = GetU32(bytes + 60);
    footer.magicPresent =
        PayloadMagic() ==
        std::string_view(reinterpret_cast<const char *>(bytes + kMagicOffset), kMagicSize);
    return footer;
}

std::string EncodeEntryRecord(const PayloadEntry &entry) {
    std::string out(kEntryRecordSize, '\0');
    auto *at = reinterpret_cast<unsigned char *>(out.data());
    PutU32(at, entry.setId);
    PutU32(at + 4, entry.type);
    PutU32(at + 8, entry.flags);
    PutU32(at + 12, entry.size);
    PutU32(at + 16, entry.offset);
    PutU32(at + 20, static_cast<uint32_t>(entry.name.size()));
    return out + entry.name;
}

std::string EncodeNameRecord(const PayloadNameRecord &record) {
    std::string out(kNameRecordSize, '\0');
    auto *at = reinterpret_cast<unsigned char *>(out.data());
    PutU32(at, record.key);
    PutU32(at + 4, static_cast<uint32_t>(record.text.size()));
    return out + record.text;
}

void PayloadWindowDescrambler::Transform(unsigned char *buffer, std::size_t length) {
    const uint64_t end = m_start + m_length;
    for (std::size_t i = 0; i < length && m_position + i < end; ++i) {
        const uint64_t p = m_position + i;
        if (p >= m_start)
            buffer[i] ^= kScrambleKey[p % 16] ^ static_cast<unsigned char>(p * 0x9D + 0x3B);
    }
    m_position += length;
}

void PayloadWindowDescrambler::SetWindowLength(uint32_t length) {
    m_length = length;
    m_position = 0;
}

void PayloadWindowDescrambler::ClearWindowLength() {
    m_length = 0;
}

const KrvDescrambler *PayloadWindowDescrambler::Table() {
    m_table.self = this;
    m_table.transform = [](void *self, unsigned char *buffer, size_t length) {
        static_cast<PayloadWindowDescrambler *>(self)->Transform(buffer, length);
    };
    m_table.setWindowLength = [](void *self, uint32_t length) {
        static_cast<PayloadWindowDescrambler *>(self)->SetWindowLength(length);
    };
    m_table.clearWindowLength = [](void *self) {
        static_cast<PayloadWindowDescrambler *>(self)->ClearWindowLength();
    };
    return &m_table;
}

} // namespace krv::setup::payload
