#include "raw/CarveFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <zlib.h>

#include "common/ByteLoader.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
// The largest view a walk asks for; the reader's window holds several.
constexpr std::size_t kStep = 64u << 10;

CarveEnd invalid() { return {}; }
CarveEnd whole(std::uint64_t size, std::string_view ext = {}) { return {FindState::Whole, size, ext}; }
CarveEnd partial(std::uint64_t size, std::string_view ext = {}) {
    return size == 0 ? invalid() : CarveEnd{FindState::Partial, size, ext};
}

// Exactly `n` bytes at `at`, or nullopt where the limit comes first.
std::optional<ByteSpan> exact(CarveBytes& b, std::uint64_t at, std::size_t n) {
    const ByteSpan v = b.view(at, n);
    if (v.size() < n) return std::nullopt;
    return v;
}

std::optional<std::uint8_t> byteAt(CarveBytes& b, std::uint64_t at) {
    const auto v = exact(b, at, 1);
    return v ? std::optional<std::uint8_t>((*v)[0]) : std::nullopt;
}

bool startsWith(ByteSpan v, std::string_view text) {
    return v.size() >= text.size() && std::memcmp(v.data(), text.data(), text.size()) == 0;
}

// Where `text` first occurs in `v` at or after `from`; nullopt when it does not.
std::optional<std::size_t> findText(ByteSpan v, std::string_view text, std::size_t from = 0) {
    if (from >= v.size()) return std::nullopt;
    const void* hit = ::memmem(v.data() + from, v.size() - from, text.data(), text.size());
    if (!hit) return std::nullopt;
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - v.data());
}

// The first `byte` at or after `from`, before `until` and the limit.
std::optional<std::uint64_t> findByte(CarveBytes& b, std::uint64_t from, std::uint8_t byte,
                                      std::uint64_t until = UINT64_MAX) {
    until = std::min(until, b.limit());
    while (from < until) {
        const ByteSpan v = b.view(from, static_cast<std::size_t>(std::min<std::uint64_t>(kStep, until - from)));
        if (v.empty()) return std::nullopt;
        if (const void* hit = std::memchr(v.data(), byte, v.size()))
            return from + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - v.data());
        from += v.size();
    }
    return std::nullopt;
}

// CRC-32 of `length` bytes at `at`; nullopt where the limit comes first.
std::optional<std::uint32_t> crcOf(CarveBytes& b, std::uint64_t at, std::uint64_t length) {
    uLong crc = crc32(0, nullptr, 0);
    while (length > 0) {
        const ByteSpan v = b.view(at, static_cast<std::size_t>(std::min<std::uint64_t>(kStep, length)));
        if (v.empty()) return std::nullopt;
        crc = crc32(crc, v.data(), static_cast<uInt>(v.size()));
        at += v.size();
        length -= v.size();
    }
    return static_cast<std::uint32_t>(crc);
}

bool fourCc(ByteSpan v, std::size_t at) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t c = u8(v, at + i);
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// A sector holding the start of a file of another kind (or another document): where a file
// that has no end of its own is cut.
bool startsAnotherFile(ByteSpan v) {
    static constexpr std::string_view kStarts[] = {
        "%PDF-", "\xFF\xD8\xFF", "\x89PNG", "PK\x03\x04", "GIF8", "Rar!\x1A\x07", "7z\xBC\xAF\x27\x1C",
        "ID3", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", "RIFF"};
    for (const std::string_view start : kStarts)
        if (startsWith(v, start)) return true;
    return false;
}

// --- JPEG ---------------------------------------------------------------------------------

bool jpegFrameMarker(std::uint8_t m) {
    return (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) || m == 0xF7;
}

} // namespace

CarveEnd walkJpeg(CarveBytes& b) {
    const auto head = exact(b, 0, 4);
    if (!head || (*head)[0] != 0xFF || (*head)[1] != 0xD8 || (*head)[2] != 0xFF) return invalid();
    std::uint64_t pos = 2;
    bool frame = false;
    bool scanned = false;
    // Where a broken structure cuts a picture that has image data.
    const auto broken = [&](std::uint64_t at) { return scanned ? partial(at) : invalid(); };
    while (true) {
        const auto m = exact(b, pos, 2);
        if (!m) return broken(std::min(pos, b.limit()));
        if ((*m)[0] != 0xFF) return broken(pos);
        const std::uint8_t marker = (*m)[1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) return frame && scanned ? whole(pos + 2) : invalid();
        // After image data only the tables, another scan, a restart count, a comment or the
        // line count may come: anything else is data that is not this picture's.
        const bool allowed = scanned
            ? (marker == 0xC4 || marker == 0xDB || marker == 0xDD || marker == 0xDA ||
               marker == 0xFE || marker == 0xDC || (marker >= 0xE0 && marker <= 0xEF))
            : (jpegFrameMarker(marker) || marker == 0xC4 || marker == 0xCC || marker == 0xDB ||
               marker == 0xDD || marker == 0xDA || marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF));
        if (!allowed) return broken(pos);
        const auto len = exact(b, pos + 2, 2);
        if (!len) return broken(pos);
        const std::uint16_t length = be16(*len, 0);
        if (length < 2) return broken(pos);
        if (jpegFrameMarker(marker)) frame = true;
        if (marker == 0xDA && !frame) return invalid();
        pos += 2 + length;
        if (marker != 0xDA) continue;
        scanned = true;
        // Entropy-coded data: a 0xFF is followed by 0x00 (a stuffed byte), a restart marker or
        // more fill; anything else is the next marker.
        while (true) {
            const std::optional<std::uint64_t> ff = findByte(b, pos, 0xFF);
            if (!ff) return partial(b.limit());
            const std::optional<std::uint8_t> next = byteAt(b, *ff + 1);
            if (!next) return partial(b.limit());
            if (*next == 0x00 || (*next >= 0xD0 && *next <= 0xD7)) {
                pos = *ff + 2;
            } else if (*next == 0xFF) {
                pos = *ff + 1;
            } else {
                pos = *ff;
                break;
            }
        }
    }
}

// --- PNG ----------------------------------------------------------------------------------

CarveEnd walkPng(CarveBytes& b) {
    static constexpr std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const auto sig = exact(b, 0, 8);
    if (!sig || std::memcmp(sig->data(), kSig, 8) != 0) return invalid();
    std::uint64_t pos = 8;
    for (bool first = true;; first = false) {
        const auto h = exact(b, pos, 8);
        const auto broken = [&] { return first ? invalid() : partial(pos); };
        if (!h) return broken();
        const std::uint32_t length = be32(*h, 0);
        if (length > 0x7FFFFFFFu) return broken();
        for (std::size_t i = 4; i < 8; ++i) {
            const std::uint8_t c = (*h)[i] | 0x20;
            if (c < 'a' || c > 'z') return broken();
        }
        const bool ihdr = startsWith(h->subspan(4), "IHDR");
        const bool iend = startsWith(h->subspan(4), "IEND");
        if (first != ihdr || (ihdr && length != 13)) return broken();
        const auto crc = crcOf(b, pos + 4, 4 + std::uint64_t{length});
        const auto stored = exact(b, pos + 8 + length, 4);
        if (!crc || !stored || *crc != be32(*stored, 0)) return broken();
        pos += 12 + std::uint64_t{length};
        if (iend) return whole(pos);
    }
}

// --- GIF ----------------------------------------------------------------------------------

namespace {
// Past a run of data sub-blocks (a size byte, then that many bytes, until a size of 0).
std::optional<std::uint64_t> skipSubBlocks(CarveBytes& b, std::uint64_t pos) {
    while (true) {
        const std::optional<std::uint8_t> n = byteAt(b, pos);
        if (!n) return std::nullopt;
        pos += 1 + std::uint64_t{*n};
        if (*n == 0) return pos;
    }
}
} // namespace

CarveEnd walkGif(CarveBytes& b) {
    const auto h = exact(b, 0, 13);
    if (!h || !(startsWith(*h, "GIF87a") || startsWith(*h, "GIF89a"))) return invalid();
    std::uint64_t pos = 13;
    if ((*h)[10] & 0x80) pos += 3u << (((*h)[10] & 7) + 1);
    std::size_t images = 0;
    while (true) {
        const std::optional<std::uint8_t> kind = byteAt(b, pos);
        const auto broken = [&] { return images ? partial(std::min(pos, b.limit())) : invalid(); };
        if (!kind) return broken();
        if (*kind == 0x3B) return images ? whole(pos + 1) : invalid();
        std::uint64_t blocks = 0;
        if (*kind == 0x21) {
            blocks = pos + 2;
        } else if (*kind == 0x2C) {
            const auto d = exact(b, pos, 10);
            if (!d) return broken();
            blocks = pos + 10;
            if ((*d)[9] & 0x80) blocks += 3u << (((*d)[9] & 7) + 1);
            const std::optional<std::uint8_t> codeSize = byteAt(b, blocks);
            if (!codeSize || *codeSize < 1 || *codeSize > 12) return broken();
            ++blocks;
        } else {
            return broken();
        }
        const std::optional<std::uint64_t> end = skipSubBlocks(b, blocks);
        if (!end) return broken();
        if (*kind == 0x2C) ++images;
        pos = *end;
    }
}

// --- BMP ----------------------------------------------------------------------------------

CarveEnd walkBmp(CarveBytes& b) {
    const auto h = exact(b, 0, 54);
    if (!h || !startsWith(*h, "BM") || le32(*h, 6) != 0) return invalid();
    const std::uint64_t size = le32(*h, 2);
    const std::uint64_t offset = le32(*h, 10);
    const std::uint32_t dib = le32(*h, 14);
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bits = 0, compression = 0;
    if (dib == 12) {
        width = le16(*h, 18);
        height = le16(*h, 20);
        planes = le16(*h, 22);
        bits = le16(*h, 24);
    } else if (dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 || dib == 124) {
        width = les32(*h, 18);
        height = les32(*h, 22);
        planes = le16(*h, 26);
        bits = le16(*h, 28);
        compression = le32(*h, 30);
    } else {
        return invalid();
    }
    const bool bitsKnown = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 ||
                           bits == 24 || bits == 32 || (bits == 0 && (compression == 4 || compression == 5));
    if (planes != 1 || !bitsKnown || width <= 0 || width > 0xFFFFFF || height == 0 ||
        height < -0xFFFFFF || height > 0xFFFFFF || offset < 14 + dib || offset > size)
        return invalid();
    if (compression == 0 || compression == 3 || compression == 6) {
        // Uncompressed rows must fit between the pixel offset and the size the header gives.
        const std::uint64_t row = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
        const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
        if (row * rows > size - offset) return invalid();
    }
    return size > b.limit() ? partial(b.limit()) : whole(size);
}

// --- PDF ----------------------------------------------------------------------------------

CarveEnd walkPdf(CarveBytes& b) {
    const auto h = exact(b, 0, 8);
    if (!h || !startsWith(*h, "%PDF-") || (*h)[5] < '1' || (*h)[5] > '9') return invalid();
    std::uint64_t end = 0; // past the last end marker a cross-reference precedes
    std::uint64_t pos = 5;
    // A linearized document gives its own length ("/L") in its first object: the end markers
    // before it end the first page's section, not the document.
    std::uint64_t linearLength = 0;
    {
        const ByteSpan first = b.view(0, 1024);
        const std::string_view text(reinterpret_cast<const char*>(first.data()), first.size());
        const std::size_t lin = text.find("/Linearized");
        const std::size_t dictEnd = lin == std::string_view::npos ? lin : text.find(">>", lin);
        const std::size_t l = lin == std::string_view::npos ? lin : text.find("/L ", lin);
        if (l != std::string_view::npos && l < dictEnd) {
            for (std::size_t i = l + 3; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < l + 20; ++i)
                linearLength = linearLength * 10 + static_cast<std::uint64_t>(text[i] - '0');
        }
    }
    // The document is read a block at a time. Its end marker is looked for by its '%'; a sector
    // that starts another file ends it; the end of its last object is where a broken one is cut,
    // and a long stretch without any object is not the document's any more.
    std::uint64_t lastObject = 0;
    std::uint64_t stop = b.limit();
    for (std::uint64_t block = 0; block < stop && pos < stop; block += kStep) {
        const std::uint64_t blockEnd = std::min(stop, block + kStep);
        for (std::uint64_t sector = std::max<std::uint64_t>(block, kSector); sector < blockEnd; sector += kSector) {
            if (startsAnotherFile(b.view(sector, 8))) {
                stop = sector;
                break;
            }
        }
        {
            const ByteSpan v = b.view(block, static_cast<std::size_t>(std::min(stop, block + kStep + 16) - block));
            static constexpr std::string_view kEndobj = "endobj";
            for (auto at = findText(v, kEndobj); at; at = findText(v, kEndobj, *at + 1))
                lastObject = block + *at + kEndobj.size();
        }
        if (block >= lastObject + (8u << 20)) {
            stop = block;
            break;
        }
        while (pos < std::min(stop, blockEnd)) {
            const std::optional<std::uint64_t> pct = findByte(b, pos, '%', std::min(stop, blockEnd));
            if (!pct) {
                pos = std::min(stop, blockEnd);
                break;
            }
            pos = *pct + 1;
            if (!startsWith(b.view(*pct, 8), "%%EOF")) continue;
            // "startxref", its offset, then the marker: the end of a cross-reference section or
            // stream. An end marker without it is text inside the document.
            const std::uint64_t back = std::min<std::uint64_t>(*pct, 1024);
            const ByteSpan before = b.view(*pct - back, static_cast<std::size_t>(back));
            static constexpr std::string_view kStartXref = "startxref";
            if (!findText(before, kStartXref)) continue;
            std::uint64_t after = *pct + 5;
            const ByteSpan eol = b.view(after, 2);
            if (startsWith(eol, "\r\n")) after += 2;
            else if (!eol.empty() && (eol[0] == '\n' || eol[0] == '\r')) after += 1;
            end = after;
            pos = after;
            // An incremental update goes on with more objects or another section; anything
            // else (zeros, another file, unrelated bytes) is past the document's end.
            const ByteSpan next = b.view(after, 64);
            std::size_t k = 0;
            while (k < next.size() && (next[k] == ' ' || next[k] == '\r' || next[k] == '\n' || next[k] == '\t'))
                ++k;
            const ByteSpan rest = next.subspan(k);
            const bool goesOn = end < linearLength ||
                                (!rest.empty() && ((rest[0] >= '1' && rest[0] <= '9') || startsWith(rest, "xref") ||
                                                   (rest[0] == '%' && !startsWith(rest, "%PDF-"))));
            if (!goesOn) return whole(end);
        }
    }
    if (end != 0 && end >= linearLength) return whole(end);
    // No end: cut after the last whole object, or where the reading stopped.
    const std::uint64_t cut = std::max(end, lastObject);
    return partial(cut ? cut : std::min(pos, b.limit()));
}

// --- ZIP ----------------------------------------------------------------------------------

namespace {

// The office formats a zip holds, told by the names of its members.
std::string_view officeByName(ByteSpan name) {
    if (startsWith(name, "word/")) return "docx";
    if (startsWith(name, "xl/")) return "xlsx";
    if (startsWith(name, "ppt/")) return "pptx";
    return {};
}

std::string_view odfByMimetype(ByteSpan data) {
    if (startsWith(data, "application/vnd.oasis.opendocument.text")) return "odt";
    if (startsWith(data, "application/vnd.oasis.opendocument.spreadsheet")) return "ods";
    if (startsWith(data, "application/vnd.oasis.opendocument.presentation")) return "odp";
    if (startsWith(data, "application/vnd.oasis.opendocument.graphics")) return "odg";
    if (startsWith(data, "application/epub+zip")) return "epub";
    return {};
}

// The end of a member written with a data descriptor after its data (sizes unknown when the
// header was written): the descriptor whose compressed size is the distance walked.
std::optional<std::uint64_t> zipDescriptorEnd(CarveBytes& b, std::uint64_t data) {
    for (std::uint64_t pos = data;;) {
        const std::optional<std::uint64_t> p = findByte(b, pos, 'P');
        if (!p) return std::nullopt;
        pos = *p + 1;
        const ByteSpan v = b.view(*p, 24);
        if (v.size() < 4 || v[1] != 'K') continue;
        const std::uint64_t length = *p - data;
        if (v[2] == 7 && v[3] == 8 && v.size() >= 24) {
            if (le32(v, 8) == (length & 0xFFFFFFFFu)) return *p + 16;
            if (le64(v, 8) == length) return *p + 24;
        }
        // A descriptor without its signature, right before the next header.
        if (((v[2] == 3 && v[3] == 4) || (v[2] == 1 && v[3] == 2)) && length >= 12) {
            const ByteSpan d = b.view(*p - 12, 12);
            if (d.size() == 12 && le32(d, 4) == length - 12) return *p;
        }
    }
}

} // namespace

CarveEnd walkZip(CarveBytes& b) {
    std::uint64_t pos = 0;
    std::size_t members = 0;
    std::string_view ext;
    while (true) {
        const auto h = exact(b, pos, 30);
        if (!h || !startsWith(*h, "PK\x03\x04")) break;
        const std::uint16_t flags = le16(*h, 6);
        const std::uint16_t method = le16(*h, 8);
        std::uint64_t packed = le32(*h, 18);
        const std::uint16_t nameLength = le16(*h, 26);
        const std::uint16_t extraLength = le16(*h, 28);
        if (method > 99) break;
        const std::uint64_t data = pos + 30 + nameLength + extraLength;
        if (packed == 0xFFFFFFFFu) { // the sizes are in the Zip64 extra field
            const ByteSpan extra = b.view(pos + 30 + nameLength, extraLength);
            for (std::size_t at = 0; at + 4 <= extra.size();) {
                const std::uint16_t id = le16(extra, at);
                const std::uint16_t n = le16(extra, at + 2);
                if (id == 1 && n >= 16) packed = le64(extra, at + 12);
                at += 4 + std::size_t{n};
            }
        }
        // The name's first bytes, kept: the next view may replace the bytes a view shows.
        std::array<std::uint8_t, 32> nameBytes{};
        const ByteSpan nameView = b.view(pos + 30, std::min<std::size_t>(nameLength, nameBytes.size()));
        std::copy(nameView.begin(), nameView.end(), nameBytes.begin());
        const ByteSpan name(nameBytes.data(), nameView.size());
        if (members == 0) {
            if (startsWith(name, "mimetype") && method == 0) ext = odfByMimetype(b.view(data, 64));
            else if (startsWith(name, "META-INF/MANIFEST.MF") || startsWith(name, "META-INF/")) ext = "jar";
        }
        if (ext.empty() || ext == "jar") {
            const std::string_view office = officeByName(name);
            if (!office.empty()) ext = office;
        }
        std::uint64_t next = 0;
        if ((flags & 8) && packed == 0) {
            const std::optional<std::uint64_t> end = zipDescriptorEnd(b, data);
            if (!end) break;
            next = *end;
        } else {
            next = data + packed;
            if (flags & 8) {
                const ByteSpan d = b.view(next, 4);
                next += startsWith(d, "PK\x07\x08") ? 16 : 12;
            }
        }
        if (next > b.limit()) break;
        pos = next;
        ++members;
    }
    if (members == 0) return invalid();
    const std::uint64_t directory = pos;
    const auto cut = [&] { return partial(directory, ext); };
    std::uint64_t entries = 0;
    while (true) {
        const auto h = exact(b, pos, 46);
        if (!h || !startsWith(*h, "PK\x01\x02")) break;
        const std::uint16_t nameLength = le16(*h, 28);
        const std::uint64_t length = 46 + std::uint64_t{nameLength} + le16(*h, 30) + le16(*h, 32);
        if (ext.empty() || ext == "jar") {
            const std::string_view office = officeByName(b.view(pos + 46, nameLength));
            if (!office.empty()) ext = office;
        }
        pos += length;
        ++entries;
    }
    if (const auto sig = exact(b, pos, 6); sig && startsWith(*sig, "PK\x05\x05"))
        pos += 6 + std::uint64_t{le16(*sig, 4)};
    if (const auto z64 = exact(b, pos, 12); z64 && startsWith(*z64, "PK\x06\x06")) {
        pos += 12 + le64(*z64, 4);
        if (const auto loc = exact(b, pos, 20); loc && startsWith(*loc, "PK\x06\x07")) pos += 20;
    }
    const auto eocd = exact(b, pos, 22);
    if (!eocd || !startsWith(*eocd, "PK\x05\x06")) return cut();
    const std::uint16_t total = le16(*eocd, 10);
    const std::uint32_t at = le32(*eocd, 16);
    if ((total != 0xFFFF && total != (entries & 0xFFFF)) ||
        (at != 0xFFFFFFFFu && at != (directory & 0xFFFFFFFFu)))
        return cut();
    const std::uint64_t end = pos + 22 + le16(*eocd, 20);
    return end > b.limit() ? partial(b.limit(), ext) : whole(end, ext);
}

// --- RAR ----------------------------------------------------------------------------------

namespace {

// A variable-length integer of RAR 5 (seven bits a byte, low first); its value and length.
std::optional<std::pair<std::uint64_t, std::size_t>> rarVint(ByteSpan v, std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 10 && at + i < v.size(); ++i) {
        value |= std::uint64_t{v[at + i] & 0x7Fu} << (7 * i);
        if (!(v[at + i] & 0x80)) return std::make_pair(value, i + 1);
    }
    return std::nullopt;
}

CarveEnd walkRar5(CarveBytes& b) {
    std::uint64_t pos = 8;
    bool any = false;
    while (true) {
        const ByteSpan v = b.view(pos, 16);
        const auto broken = [&] { return any ? partial(pos) : invalid(); };
        const auto size = rarVint(v, 4);
        if (!size || size->first == 0 || size->first > (2u << 20)) return broken();
        const std::uint64_t headerEnd = pos + 4 + size->second + size->first;
        const std::uint32_t stored = le32(v, 0);
        const auto crc = crcOf(b, pos + 4, size->second + size->first);
        if (!crc || *crc != stored) return broken();
        const ByteSpan header = b.view(pos + 4 + size->second, static_cast<std::size_t>(std::min<std::uint64_t>(size->first, 32)));
        const auto type = rarVint(header, 0);
        if (!type || type->first < 1 || type->first > 5) return broken();
        const auto flags = rarVint(header, type->second);
        if (!flags) return broken();
        std::size_t at = type->second + flags->second;
        std::uint64_t dataSize = 0;
        if (flags->first & 1) {
            const auto extra = rarVint(header, at);
            if (!extra) return broken();
            at += extra->second;
        }
        if (flags->first & 2) {
            const auto data = rarVint(header, at);
            if (!data) return broken();
            dataSize = data->first;
        }
        std::uint64_t next = 0;
        if (!checkedAdd(headerEnd, dataSize, next) || next > b.limit()) return partial(pos);
        any = true;
        if (type->first == 5) return whole(next);
        pos = next;
    }
}

} // namespace

CarveEnd walkRar(CarveBytes& b) {
    const auto sig = exact(b, 0, 8);
    if (!sig || !startsWith(*sig, "Rar!\x1a\x07")) return invalid();
    if ((*sig)[6] == 1 && (*sig)[7] == 0) return walkRar5(b);
    if ((*sig)[6] != 0) return invalid();
    std::uint64_t pos = 7;
    bool mainSeen = false;
    while (true) {
        const auto h = exact(b, pos, 7);
        const auto broken = [&] { return mainSeen ? partial(std::min(pos, b.limit())) : invalid(); };
        if (!h) return broken();
        const std::uint8_t type = (*h)[2];
        const std::uint16_t flags = le16(*h, 3);
        const std::uint16_t size = le16(*h, 5);
        const std::uint16_t stored = le16(*h, 0);
        if (type < 0x73 || type > 0x7B || size < 7 || (type == 0x73) == mainSeen) return broken();
        const auto crc = crcOf(b, pos + 2, size - 2u);
        if (!crc || (*crc & 0xFFFF) != stored) return broken();
        std::uint64_t added = 0;
        if (flags & 0x8000) {
            const auto more = exact(b, pos + 7, 4);
            if (!more) return broken();
            added = le32(*more, 0);
            if (type == 0x74 && (flags & 0x100)) {
                const auto high = exact(b, pos + 32, 4);
                if (!high) return broken();
                added |= std::uint64_t{le32(*high, 0)} << 32;
            }
        }
        mainSeen = true;
        const std::uint64_t next = pos + size + added;
        if (next > b.limit()) return partial(pos);
        if (type == 0x7B) return whole(next);
        pos = next;
    }
}

// --- 7z -----------------------------------------------------------------------------------

CarveEnd walkSevenZip(CarveBytes& b) {
    const auto h = exact(b, 0, 32);
    if (!h || !startsWith(*h, "7z\xBC\xAF\x27\x1C") || (*h)[6] != 0) return invalid();
    if (static_cast<std::uint32_t>(crc32(0, h->data() + 12, 20)) != le32(*h, 8)) return invalid();
    const std::uint64_t offset = le64(*h, 12);
    const std::uint64_t size = le64(*h, 20);
    const std::uint32_t stored = le32(*h, 28);
    std::uint64_t headerAt = 0, end = 0;
    if (size == 0 || !checkedAdd(32, offset, headerAt) || !checkedAdd(headerAt, size, end))
        return invalid();
    if (end > b.limit()) return partial(std::min(headerAt, b.limit()));
    const auto crc = crcOf(b, headerAt, size);
    const std::optional<std::uint8_t> kind = byteAt(b, headerAt);
    if (!crc || *crc != stored || !kind || (*kind != 0x01 && *kind != 0x17))
        return partial(headerAt);
    return whole(end);
}

// --- MP3 ----------------------------------------------------------------------------------

namespace {

// The length of the MPEG audio frame whose header is `h`, or 0 when it is none; `key` holds the
// version, layer and sample rate that every frame of one stream shares.
std::uint32_t mpegFrame(ByteSpan h, std::uint32_t& key) {
    if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    const unsigned version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const unsigned layer = (h[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const unsigned rateIndex = h[2] >> 4;
    const unsigned sampleIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) return 0;
    static constexpr std::uint16_t kRates[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // 1, I
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // 1, II
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},     // 1, III
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // 2, I
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // 2, II
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};        // 2, III
    static constexpr std::uint32_t kSamples[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const std::uint32_t rate = kRates[mpeg1 ? 0 : 1][3 - layer][rateIndex] * 1000u;
    const std::uint32_t samples = kSamples[sampleIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const std::uint32_t pad = (h[2] >> 1) & 1;
    const std::uint32_t k = (version << 8) | (layer << 4) | sampleIndex;
    if (key == 0) key = k | 0x10000;
    else if (key != (k | 0x10000)) return 0;
    if (layer == 3) return (12 * rate / samples + pad) * 4;
    return (layer == 1 && !mpeg1 ? 72 : 144) * rate / samples + pad;
}

} // namespace

CarveEnd walkMp3(CarveBytes& b) {
    std::uint64_t pos = 0;
    const auto id3 = exact(b, 0, 10);
    if (!id3) return invalid();
    const bool tagged = startsWith(*id3, "ID3");
    if (tagged) {
        std::uint64_t size = 0;
        for (std::size_t i = 6; i < 10; ++i) {
            if ((*id3)[i] & 0x80) return invalid();
            size = (size << 7) | (*id3)[i];
        }
        pos = 10 + size + (((*id3)[5] & 0x10) ? 10 : 0);
        // Some writers pad past the tag's own size with zeros.
        const ByteSpan pad = b.view(pos, 4096);
        std::size_t zeros = 0;
        while (zeros < pad.size() && pad[zeros] == 0) ++zeros;
        if (zeros < pad.size()) pos += zeros;
    }
    std::uint32_t key = 0;
    std::uint64_t frames = 0;
    bool limited = false; // the stream reaches the limit: where it ends is not known
    while (true) {
        const ByteSpan h = b.view(pos, 4);
        const std::uint32_t length = mpegFrame(h, key);
        limited = h.size() < 4 || (length != 0 && pos + length > b.limit());
        if (length == 0 || limited) break;
        pos += length;
        ++frames;
    }
    // A stream found by its first frame header alone needs a few frames in a row to tell it
    // from two bytes of chance.
    if (frames < (tagged ? 2u : 4u)) return invalid();
    if (limited) return partial(pos);
    // A closing ID3v1 tag: its 128 bytes, or a cut file.
    if (startsWith(b.view(pos, 3), "TAG")) {
        if (b.view(pos, 128).size() < 128) return partial(pos);
        pos += 128;
    }
    return whole(pos);
}

// --- MP4 / QuickTime ----------------------------------------------------------------------

CarveEnd walkMp4(CarveBytes& b) {
    static constexpr std::string_view kTopLevel[] = {
        "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "pdin", "moof",
        "mfra", "styp", "sidx", "ssix", "prft", "emsg", "pnot", "junk", "udta", "PICT"};
    const auto first = exact(b, 0, 12);
    if (!first || !startsWith(first->subspan(4), "ftyp")) return invalid();
    const std::uint32_t ftypSize = be32(*first, 0);
    if (ftypSize < 12 || ftypSize > 4096) return invalid();
    const std::string_view ext = startsWith(first->subspan(8), "qt  ") ? "mov" : std::string_view{};
    std::uint64_t pos = 0;
    bool movie = false, media = false;
    while (true) {
        const ByteSpan h = b.view(pos, 16);
        if (h.size() < 8) break;
        const std::string_view type(reinterpret_cast<const char*>(h.data() + 4), 4);
        if (std::find(std::begin(kTopLevel), std::end(kTopLevel), type) == std::end(kTopLevel)) break;
        std::uint64_t size = be32(h, 0);
        if (size == 1) {
            if (h.size() < 16) break;
            size = be64(h, 8);
            if (size < 16) break;
        } else if (size == 0) { // runs to the file's end, which nothing else tells
            return partial(b.limit(), ext);
        } else if (size < 8) {
            break;
        }
        std::uint64_t next = 0;
        if (!checkedAdd(pos, size, next) || next > b.limit()) return partial(b.limit(), ext);
        if (type == "moov") {
            // The movie's own boxes must fill it exactly: a file cut inside it and followed by
            // other bytes does not.
            const std::uint64_t header = be32(h, 0) == 1 ? 16 : 8;
            std::uint64_t child = pos + header;
            while (child + 8 <= next) {
                const auto c = exact(b, child, 8);
                if (!c || be32(*c, 0) < 8 || !fourCc(*c, 4)) break;
                child += be32(*c, 0);
            }
            if (child != next) return partial(pos, ext);
            movie = true;
        }
        if (type == "mdat") media = true;
        pos = next;
    }
    if (movie && media) return whole(pos, ext);
    return (movie || media) ? partial(pos, ext) : invalid();
}

// --- RIFF (WAV, AVI) ----------------------------------------------------------------------

CarveEnd walkRiff(CarveBytes& b) {
    const auto h = exact(b, 0, 12);
    if (!h || !startsWith(*h, "RIFF") || !fourCc(*h, 8)) return invalid();
    const std::uint64_t total = std::uint64_t{le32(*h, 4)} + 8;
    if (total < 20) return invalid();
    std::uint64_t pos = 12;
    while (pos + 8 <= total) {
        const auto c = exact(b, pos, 8);
        if (!c || !fourCc(*c, 0)) return pos > 12 ? partial(std::min(pos, b.limit())) : invalid();
        const std::uint64_t size = le32(*c, 4);
        const std::uint64_t next = pos + 8 + size + (size & 1);
        // The last chunk may leave out its pad byte.
        if (next > total && next != total + 1) return pos > 12 ? partial(pos) : invalid();
        pos = next;
    }
    return total > b.limit() ? partial(b.limit()) : whole(total);
}

// --- Compound file (DOC, XLS, PPT) --------------------------------------------------------

CarveEnd walkOle(CarveBytes& b) {
    static constexpr std::uint8_t kSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const auto view = exact(b, 0, 512);
    if (!view) return invalid();
    // Kept: the sectors read below may replace the bytes a view shows.
    std::array<std::uint8_t, 512> header{};
    std::copy(view->begin(), view->end(), header.begin());
    const std::optional<ByteSpan> h = ByteSpan(header);
    if (std::memcmp(h->data(), kSig, 8) != 0 || le16(*h, 28) != 0xFFFE) return invalid();
    const std::uint16_t major = le16(*h, 26);
    const std::uint16_t shift = le16(*h, 30);
    if (!((major == 3 && shift == 9) || (major == 4 && shift == 12)) || le16(*h, 32) != 6) return invalid();
    const std::uint64_t sector = 1u << shift;
    const std::uint32_t perSector = static_cast<std::uint32_t>(sector / 4);
    const std::uint32_t fatSectors = le32(*h, 44);
    // Sectors the limit can hold bound every count taken from the header.
    const std::uint64_t maxSectors = b.limit() / sector;
    if (fatSectors == 0 || fatSectors > maxSectors) return invalid();
    // The FAT's sectors: 109 in the header, the rest in the chain of DIFAT sectors.
    std::vector<std::uint32_t> fat;
    fat.reserve(fatSectors);
    for (std::size_t i = 0; i < 109 && fat.size() < fatSectors; ++i) fat.push_back(le32(*h, 76 + 4 * i));
    std::uint32_t difat = le32(*h, 68);
    for (std::uint32_t n = 0; fat.size() < fatSectors && n < le32(*h, 72) && n <= maxSectors; ++n) {
        if (difat >= maxSectors) return invalid();
        const auto d = exact(b, (std::uint64_t{difat} + 1) * sector, static_cast<std::size_t>(sector));
        if (!d) return invalid();
        for (std::uint32_t i = 0; i + 1 < perSector && fat.size() < fatSectors; ++i) fat.push_back(le32(*d, 4 * i));
        difat = le32(*d, 4 * (perSector - 1));
    }
    if (fat.size() < fatSectors) return invalid();
    // The file ends with the last sector the FAT does not mark free.
    std::uint64_t last = 0;
    bool any = false;
    for (std::size_t f = 0; f < fat.size(); ++f) {
        if (fat[f] >= maxSectors) return invalid();
        const auto s = exact(b, (std::uint64_t{fat[f]} + 1) * sector, static_cast<std::size_t>(sector));
        if (!s) return invalid();
        for (std::uint32_t i = perSector; i-- > 0;) {
            if (le32(*s, 4 * i) != 0xFFFFFFFFu) {
                last = std::max<std::uint64_t>(last, std::uint64_t{f} * perSector + i);
                any = true;
                break;
            }
        }
    }
    const std::uint32_t directory = le32(*h, 48);
    if (!any || directory > last) return invalid();
    const std::uint64_t end = (last + 2) * sector;
    // What the first directory sector names tells a workbook or a presentation from a document.
    std::string_view ext;
    const ByteSpan dir = b.view((std::uint64_t{directory} + 1) * sector, static_cast<std::size_t>(sector));
    const auto named = [&](std::string_view name) {
        for (std::size_t e = 0; e + 128 <= dir.size(); e += 128) {
            if (le16(dir, e + 64) != 2 * (name.size() + 1)) continue;
            bool same = true;
            for (std::size_t i = 0; i < name.size() && same; ++i)
                same = le16(dir, e + 2 * i) == static_cast<std::uint8_t>(name[i]);
            if (same) return true;
        }
        return false;
    };
    if (named("Workbook") || named("Book")) ext = "xls";
    else if (named("PowerPoint Document")) ext = "ppt";
    return end > b.limit() ? partial(b.limit(), ext) : whole(end, ext);
}

// --- common -------------------------------------------------------------------------------

CarveFormat formatOfReserved(std::uint32_t reserved) {
    if ((reserved & 0xFFFF0000u) != kFormatTag) return CarveFormat::None;
    const std::uint32_t f = reserved & 0xFFFF;
    return f <= static_cast<std::uint32_t>(CarveFormat::Ole) ? static_cast<CarveFormat>(f) : CarveFormat::None;
}

CarveEnd walkFormat(CarveFormat format, CarveBytes& b) {
    switch (format) {
    case CarveFormat::None: return invalid();
    case CarveFormat::Jpeg: return walkJpeg(b);
    case CarveFormat::Png: return walkPng(b);
    case CarveFormat::Gif: return walkGif(b);
    case CarveFormat::Bmp: return walkBmp(b);
    case CarveFormat::Pdf: return walkPdf(b);
    case CarveFormat::Zip: return walkZip(b);
    case CarveFormat::Rar: return walkRar(b);
    case CarveFormat::SevenZip: return walkSevenZip(b);
    case CarveFormat::Mp3: return walkMp3(b);
    case CarveFormat::Mp4: return walkMp4(b);
    case CarveFormat::Riff: return walkRiff(b);
    case CarveFormat::Ole: return walkOle(b);
    }
    return invalid();
}

const char* findStateText(FindState state) {
    switch (state) {
    case FindState::Whole: return "whole";
    case FindState::Partial: return "partial";
    case FindState::Invalid: break;
    }
    return "invalid";
}

std::span<const std::uint8_t> SpanCarveBytes::view(std::uint64_t offset, std::size_t length) {
    if (offset >= bytes_.size()) return {};
    return bytes_.subspan(static_cast<std::size_t>(offset),
                          static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes_.size() - offset)));
}

ReaderCarveBytes::ReaderCarveBytes(const ByteSource& reader, std::uint64_t start, std::uint64_t limit,
                                   std::span<const std::uint8_t> inMemory, std::vector<std::uint8_t>& window)
    : reader_(reader), start_(start), memory_(inMemory.first(std::min<std::size_t>(
                                                   inMemory.size(), static_cast<std::size_t>(std::min<std::uint64_t>(limit, SIZE_MAX))))),
      window_(window) {
    limit_ = limit;
}

std::span<const std::uint8_t> ReaderCarveBytes::view(std::uint64_t offset, std::size_t length) {
    if (offset >= limit_ || failed_) return {};
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, limit_ - offset));
    if (offset + length <= memory_.size()) return memory_.subspan(static_cast<std::size_t>(offset), length);
    if (window_.size() < 2 * kStep) window_.resize(16 * kStep);
    length = std::min(length, window_.size() - static_cast<std::size_t>(kSector));
    if (windowAt_ == UINT64_MAX || offset < windowAt_ || offset + length > windowAt_ + windowBytes_) {
        // Whole sectors from the one holding `offset` (the find starts a sector, and the limit
        // never passes the volume's last sector).
        windowAt_ = offset - offset % kSector;
        const std::uint64_t limitSectors = (limit_ + kSector - 1) / kSector * kSector;
        // A quarter of the window at a time: most walks end soon after the bytes in memory.
        const std::size_t want = std::max<std::size_t>(window_.size() / 4, length + kSector);
        windowBytes_ = static_cast<std::size_t>(std::min<std::uint64_t>(std::min(want, window_.size()), limitSectors - windowAt_));
        if (!reader_.readAt(start_ + windowAt_, std::span(window_).first(windowBytes_))) {
            failed_ = true;
            windowAt_ = UINT64_MAX;
            return {};
        }
    }
    return std::span<const std::uint8_t>(window_).subspan(static_cast<std::size_t>(offset - windowAt_), length);
}

} // namespace vindaru
