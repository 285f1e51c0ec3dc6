#include "raw/SignatureFields.h"

#include <cctype>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "raw/RawFileIo.h"

namespace vindaru {

namespace {

constexpr const char* kNoExtension = "extention length is zero..";
constexpr const char* kNoSignature = "signature length is zero..";

std::string trim(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

// Hex digits at the start of the piece (after an optional 0x); the low byte is what is kept,
// so overlong numbers simply wrap.
std::uint8_t hexPiece(const std::string& piece) {
    std::size_t i = 0;
    if (piece.size() >= 2 && piece[0] == '0' && (piece[1] == 'x' || piece[1] == 'X')) i = 2;
    std::uint8_t value = 0;
    for (; i < piece.size() && std::isxdigit(static_cast<unsigned char>(piece[i])); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(piece[i])));
        value = static_cast<std::uint8_t>((value << 4) | (c <= '9' ? c - '0' : c - 'a' + 10));
    }
    return value;
}

} // namespace

std::vector<std::uint8_t> parseSignatureBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::size_t from = 0;
    while (from <= text.size() && bytes.size() < kSignatureBytes) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        const std::string piece = trim(text.substr(from, comma - from));
        if (!piece.empty()) bytes.push_back(hexPiece(piece));
        from = comma + 1;
    }
    return bytes;
}

std::int64_t parseFieldNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > static_cast<std::uint64_t>(INT64_MAX)) return negative ? INT64_MIN : INT64_MAX;
    }
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

std::optional<signatureRecord> buildSignatureRecord(const SignatureFields& f, std::uint8_t index,
                                                    std::string& error) {
    signatureRecord r;
    r.recordIndex = index;
    if (f.extension.empty()) {
        error = kNoExtension;
        return std::nullopt;
    }
    r.setExtension(f.extension);
    const std::vector<std::uint8_t> start = parseSignatureBytes(f.startSignature);
    if (start.empty()) {
        error = kNoSignature;
        return std::nullopt;
    }
    std::copy(start.begin(), start.end(), r.startBytes.begin());
    r.startLength = static_cast<std::uint8_t>(start.size());
    const std::vector<std::uint8_t> end = parseSignatureBytes(f.endSignature);
    std::copy(end.begin(), end.end(), r.endBytes.begin());
    r.endLength = static_cast<std::uint8_t>(end.size());

    const auto i32 = [](std::int64_t v) { return static_cast<std::int32_t>(v); };
    const std::int64_t sizeOffset = parseFieldNumber(f.sizeOffset);
    r.sizeOffset = sizeOffset != 0 ? i32(sizeOffset) : -1;
    r.startOffset = static_cast<std::uint16_t>(parseFieldNumber(f.startOffset));
    r.skipSize = parseFieldNumber(f.skipSize);
    r.bytesInSize = i32(parseFieldNumber(f.bytesInSize));
    r.sizeIncludesHeader = f.sizeIncludesHeader ? 1 : 0;
    r.headerSize = i32(parseFieldNumber(f.headerSize));
    r.approximateSize = parseFieldNumber(f.approximateSize);
    if (!f.category.empty()) r.setCategory(f.category);
    return r;
}

bool appendSignatureRecord(const std::string& path, const SignatureFields& fields,
                           std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = kSignatureNoFile;
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) error = kSignatureNoFile;
    std::optional<signatureRecord> record;
    if (ok) {
        // The index byte counts whole records already there; past 255 it wraps, as one byte does.
        const auto index = static_cast<std::uint8_t>(static_cast<std::uint64_t>(st.st_size) /
                                                     kSignatureRecordBytes);
        record = buildSignatureRecord(fields, index, error);
        ok = record.has_value();
    }
    if (ok) {
        const signatureRecord::Bytes bytes = record->encode();
        ok = ::lseek(fd, 0, SEEK_END) >= 0 && writeAllTo(fd, bytes.data(), bytes.size());
        if (!ok) error = kSignatureNoFile;
    }
    ::close(fd);
    return ok;
}

bool appendSignatureRecord(const std::string& path, const SignatureFields& fields,
                           MessageSink& messages) {
    std::string error;
    if (!appendSignatureRecord(path, fields, error)) {
        messages.info(error);
        return false;
    }
    messages.info(kSignatureSaved);
    return true;
}

} // namespace vindaru
