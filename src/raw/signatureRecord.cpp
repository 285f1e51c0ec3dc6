#include "raw/signatureRecord.h"

#include "common/ByteLoader.h"
#include "common/TextConvert.h"

namespace vindaru {

namespace off = signature_offsets;

namespace {

template <typename T> void storeLe(signatureRecord::Bytes& out, std::size_t at, T value) {
    auto v = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <std::size_t N>
void storeUnits(signatureRecord::Bytes& out, std::size_t at, const std::array<char16_t, N>& units) {
    for (std::size_t i = 0; i < N; ++i)
        storeLe<std::uint16_t>(out, at + 2 * i, static_cast<std::uint16_t>(units[i]));
}

template <std::size_t N>
void loadUnits(std::span<const std::uint8_t> in, std::size_t at, std::array<char16_t, N>& units) {
    for (std::size_t i = 0; i < N; ++i) units[i] = static_cast<char16_t>(le16(in, at + 2 * i));
}

template <std::size_t N>
std::string unitsText(const std::array<char16_t, N>& units, std::size_t limit = N) {
    std::size_t n = 0;
    while (n < limit && units[n] != 0) ++n;
    return utf16ToUtf8(std::u16string_view(units.data(), n));
}

} // namespace

signatureRecord::Bytes signatureRecord::encode() const {
    Bytes out{};
    storeUnits(out, off::extension, extension);
    storeLe(out, off::startOffset, startOffset);
    out[off::extensionLength] = extensionLength;
    for (std::size_t i = 0; i < kSignatureBytes; ++i) {
        out[off::startBytes + i] = startBytes[i];
        out[off::endBytes + i] = endBytes[i];
    }
    out[off::startLength] = startLength;
    out[off::endLength] = endLength;
    out[off::recordIndex] = recordIndex;
    storeLe(out, off::sizeOffset, sizeOffset);
    storeLe(out, off::bytesInSize, bytesInSize);
    storeLe(out, off::headerSize, headerSize);
    out[off::sizeIncludesHeader] = sizeIncludesHeader;
    storeLe(out, off::reserved1, reserved1);
    storeLe(out, off::approximateSize, approximateSize);
    storeLe(out, off::skipSize, skipSize);
    storeUnits(out, off::category, category);
    storeLe(out, off::reserved2, reserved2);
    return out;
}

std::optional<signatureRecord> signatureRecord::decode(std::span<const std::uint8_t> in) {
    if (in.size() < kSignatureRecordBytes) return std::nullopt;
    signatureRecord r;
    loadUnits(in, off::extension, r.extension);
    r.startOffset = le16(in, off::startOffset);
    r.extensionLength = in[off::extensionLength];
    for (std::size_t i = 0; i < kSignatureBytes; ++i) {
        r.startBytes[i] = in[off::startBytes + i];
        r.endBytes[i] = in[off::endBytes + i];
    }
    r.startLength = in[off::startLength];
    r.endLength = in[off::endLength];
    r.recordIndex = in[off::recordIndex];
    r.sizeOffset = les32(in, off::sizeOffset);
    r.bytesInSize = les32(in, off::bytesInSize);
    r.headerSize = les32(in, off::headerSize);
    r.sizeIncludesHeader = in[off::sizeIncludesHeader];
    r.reserved1 = le32(in, off::reserved1);
    r.approximateSize = les64(in, off::approximateSize);
    r.skipSize = les64(in, off::skipSize);
    loadUnits(in, off::category, r.category);
    r.reserved2 = le32(in, off::reserved2);
    return r;
}

std::string signatureRecord::extensionText() const {
    // The fifth unit is the terminator, whatever a foreign file put there.
    return unitsText(extension, kExtensionUnits);
}

std::string signatureRecord::categoryText() const {
    return unitsText(category);
}

void signatureRecord::setExtension(const std::string& text) {
    const std::u16string units = utf8ToUtf16(text);
    extension = {};
    for (std::size_t i = 0; i < units.size() && i < kExtensionUnits; ++i) extension[i] = units[i];
    extensionLength = static_cast<std::uint8_t>(units.size());
}

void signatureRecord::setCategory(const std::string& text) {
    const std::u16string units = utf8ToUtf16(text);
    category = {};
    for (std::size_t i = 0; i < units.size() && i < kCategoryUnits; ++i) category[i] = units[i];
}

} // namespace vindaru
