#include "raw/DefaultSignatures.h"

#include "raw/CarveFormats.h"

#include <filesystem>
#include <fstream>

namespace vindaru {

namespace {

constexpr const char* kPictures = "Pictures";
constexpr const char* kDocuments = "Documents";
constexpr const char* kAudio = "Audio";
constexpr const char* kVideo = "Video";
constexpr const char* kArchives = "Archives";

// Start signature, no end signature, an approximate size: most files never end at the start of
// a sector, so an end signature would rarely be seen.
SignatureFields headed(const char* ext, const char* start, const char* approx, const char* category,
                       const char* startOffset = "") {
    SignatureFields f;
    f.extension = ext;
    f.startSignature = start;
    f.startOffset = startOffset;
    f.approximateSize = approx;
    f.category = category;
    return f;
}

// Files that write their own size in the header.
SignatureFields sized(const char* ext, const char* start, const char* sizeOffset,
                      bool includesHeader, const char* headerSize, const char* approx,
                      const char* category) {
    SignatureFields f = headed(ext, start, approx, category);
    f.sizeOffset = sizeOffset;
    f.bytesInSize = "4";
    f.sizeIncludesHeader = includesHeader;
    f.headerSize = headerSize;
    return f;
}

struct DefaultSignature {
    SignatureFields fields;
    CarveFormat format;
};

// Every default signature names its format: a find ends where the file's structure ends, and
// the approximate size only bounds that walk.
const std::vector<DefaultSignature>& table() {
    static const std::vector<DefaultSignature> signatures = {
        // Any JPEG: start of image, then any marker (JFIF, Exif, Adobe, bare tables).
        {headed("jpg", "0xFF,0xD8,0xFF", "67108864", kPictures), CarveFormat::Jpeg},
        {headed("png", "0x89,0x50,0x4E,0x47,0x0D,0x0A,0x1A,0x0A", "67108864", kPictures), CarveFormat::Png},
        {headed("gif", "0x47,0x49,0x46,0x38,0x2A,0x61", "33554432", kPictures), CarveFormat::Gif}, // GIF87a, GIF89a
        // "BM", any file size, the two reserved words zero; the size counts the header.
        {sized("bmp", "0x42,0x4D,0x2A,0x2A,0x2A,0x2A,0x00,0x00,0x00,0x00", "2", true, "14", "268435456", kPictures),
         CarveFormat::Bmp},
        {headed("pdf", "0x25,0x50,0x44,0x46,0x2D", "67108864", kDocuments), CarveFormat::Pdf}, // %PDF-
        // Compound files: doc, xls, ppt.
        {headed("doc", "0xD0,0xCF,0x11,0xE0,0xA1,0xB1,0x1A,0xE1", "268435456", kDocuments), CarveFormat::Ole},
        // Also docx, xlsx, pptx, odt, ods, odp, epub, jar.
        {headed("zip", "0x50,0x4B,0x03,0x04", "2147483648", kArchives), CarveFormat::Zip},
        {headed("rar", "0x52,0x61,0x72,0x21,0x1A,0x07", "2147483648", kArchives), CarveFormat::Rar}, // RAR 4 and 5
        {headed("7z", "0x37,0x7A,0xBC,0xAF,0x27,0x1C", "2147483648", kArchives), CarveFormat::SevenZip},
        {headed("mp3", "0x49,0x44,0x33,0x2A,0x00", "134217728", kAudio), CarveFormat::Mp3}, // ID3v2 header
        // RIFF: the size after the eight-byte chunk header.
        {sized("wav", "0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x57,0x41", "4", false, "8", "2147483655", kAudio),
         CarveFormat::Riff},
        {sized("avi", "0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x41,0x56", "4", false, "8", "2147483655", kVideo),
         CarveFormat::Riff},
        // The "ftyp" box of MP4 and QuickTime files.
        {headed("mp4", "0x66,0x74,0x79,0x70", "4294967296", kVideo, "4"), CarveFormat::Mp4},
        // MP3 streams without a tag, by their first frame header: layer III of MPEG 1, 2 and 2.5.
        {headed("mp3", "0xFF,0xFB", "134217728", kAudio), CarveFormat::Mp3},
        {headed("mp3", "0xFF,0xF3", "134217728", kAudio), CarveFormat::Mp3},
        {headed("mp3", "0xFF,0xE3", "134217728", kAudio), CarveFormat::Mp3},
    };
    return signatures;
}

} // namespace

const std::vector<SignatureFields>& defaultSignatureFields() {
    static const std::vector<SignatureFields> fields = [] {
        std::vector<SignatureFields> out;
        for (const DefaultSignature& d : table()) out.push_back(d.fields);
        return out;
    }();
    return fields;
}

std::vector<signatureRecord> defaultSignatureRecords() {
    std::vector<signatureRecord> records;
    for (const DefaultSignature& d : table()) {
        std::string error;
        signatureRecord r = *buildSignatureRecord(d.fields, static_cast<std::uint8_t>(records.size()), error);
        // The one field the editor leaves 0: the walk that ends a find of this format.
        r.reserved1 = reservedOfFormat(d.format);
        records.push_back(r);
    }
    return records;
}

bool writeDefaultSignatureFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const signatureRecord& r : defaultSignatureRecords()) {
        const signatureRecord::Bytes bytes = r.encode();
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return static_cast<bool>(out);
}

std::string defaultSignaturePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path folder = ec ? std::filesystem::current_path(ec) : exe.parent_path();
    return (folder / kDefaultSignatureFileName).string();
}

} // namespace vindaru
