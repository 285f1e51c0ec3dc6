// The format walkers over real files made by Debian tools (tests/raw/formats), over the same
// files cut short, damaged or followed by other bytes, and over RAR structures built here (no
// free tool writes RAR).
#include <gtest/gtest.h>

#include <filesystem>
#include <zlib.h>

#include "image/MemoryReader.h"
#include "raw/CarveFormats.h"
#include "raw/CarveSamples.h"
#include "raw/DefaultSignatures.h"
#include "raw/myJpg.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::Bytes;

struct Fixture {
    const char* file;
    CarveFormat format;
    const char* extension; // the extension the walk gives, "" for the rule's own
    bool truncationShows;  // a cut file followed by other bytes is never taken as whole
};

const Fixture kFixtures[] = {
    {"restart.jpg", CarveFormat::Jpeg, "", true},      {"progressive.jpg", CarveFormat::Jpeg, "", true},
    {"image.png", CarveFormat::Png, "", true},         {"image.gif", CarveFormat::Gif, "", true},
    {"image.bmp", CarveFormat::Bmp, "", false},        {"doc.pdf", CarveFormat::Pdf, "", true},
    {"linear.pdf", CarveFormat::Pdf, "", true},        {"xrefstream.pdf", CarveFormat::Pdf, "", true},
    {"archive.zip", CarveFormat::Zip, "", true},       {"streamed.zip", CarveFormat::Zip, "", true},
    {"tiny.docx", CarveFormat::Zip, "docx", true},     {"archive.7z", CarveFormat::SevenZip, "", true},
    {"tone.mp3", CarveFormat::Mp3, "", false},         {"tone.wav", CarveFormat::Riff, "", false},
    {"clip.mp4", CarveFormat::Mp4, "", true},          {"clip.mov", CarveFormat::Mp4, "mov", true},
    {"clip.avi", CarveFormat::Riff, "", false},        {"doc.ole", CarveFormat::Ole, "", false},
};

Bytes fixture(const char* name) {
    return test::readFile(std::filesystem::path(VINDARU_SOURCE_DIR) / "tests/raw/formats" / name);
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

CarveEnd walk(CarveFormat f, const Bytes& bytes) {
    SpanCarveBytes view(bytes);
    return walkFormat(f, view);
}

TEST(CarveFormats, EveryRealFileEndsWhereItEnds) {
    for (const Fixture& f : kFixtures) {
        const Bytes file = fixture(f.file);
        ASSERT_FALSE(file.empty()) << f.file;
        for (const Bytes& after : {test::randomBytes(8192, 5), Bytes(8192, 0), Bytes{}}) {
            const CarveEnd end = walk(f.format, concat(file, after));
            EXPECT_EQ(end.state, FindState::Whole) << f.file << " followed by " << after.size();
            EXPECT_EQ(end.size, file.size()) << f.file;
            EXPECT_EQ(end.extension, f.extension) << f.file;
        }
    }
}

TEST(CarveFormats, CutOrDamagedFilesAreNeverWhole) {
    for (const Fixture& f : kFixtures) {
        const Bytes file = fixture(f.file);
        // Cut at 60 %, random bytes after: partial (cut at or near the break) or dropped.
        Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 6 / 10));
        const CarveEnd end = walk(f.format, concat(cut, test::randomBytes(65536, 9)));
        if (f.truncationShows) {
            EXPECT_NE(end.state, FindState::Whole) << f.file;
        }
        // Its first bytes damaged: not this format at all.
        Bytes damaged = file;
        damaged[1] ^= 0x5A;
        EXPECT_EQ(walk(f.format, damaged).state, FindState::Invalid) << f.file;
    }
}

TEST(CarveFormats, NoWalkPassesItsLimit) {
    // Every prefix of every file, alone and as the in-memory part before a reader's window.
    for (const Fixture& f : kFixtures) {
        const Bytes file = fixture(f.file);
        for (std::size_t n = 0; n <= file.size(); n += (n < 600 ? 1 : 37)) {
            const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            const CarveEnd end = walk(f.format, prefix);
            EXPECT_LE(end.size, n) << f.file;
            if (end.state == FindState::Whole) {
                EXPECT_EQ(end.size, file.size()) << f.file << " cut at " << n;
            }
        }
    }
}

TEST(CarveFormats, ReadThroughTheReaderAsInMemory) {
    // The file at a sector in a volume; the walk sees its first sector in memory and reads the
    // rest through small windows of the reader, so views are replaced while a walk holds them.
    for (const Fixture& f : kFixtures) {
        const Bytes file = fixture(f.file);
        Bytes volume = test::randomBytes(1u << 20, 3);
        std::copy(file.begin(), file.end(), volume.begin() + 4096);
        MemoryReader reader(volume);
        std::vector<std::uint8_t> window;
        ReaderCarveBytes bytes(reader, 4096, volume.size() - 4096,
                               std::span<const std::uint8_t>(volume).subspan(4096, 512), window);
        const CarveEnd end = walkFormat(f.format, bytes);
        EXPECT_EQ(end.state, FindState::Whole) << f.file;
        EXPECT_EQ(end.size, file.size()) << f.file;
    }
}

TEST(CarveFormats, JpegWithAThumbnailAndAfterAnotherPicture) {
    const Bytes inner = fixture("restart.jpg");
    // An Exif segment holding a whole picture: its end marker is not the outer picture's end.
    Bytes app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), inner.begin(), inner.end());
    app1[2] = static_cast<std::uint8_t>((app1.size() - 2) >> 8);
    app1[3] = static_cast<std::uint8_t>(app1.size() - 2);
    Bytes outer = {0xFF, 0xD8};
    outer.insert(outer.end(), app1.begin(), app1.end());
    outer.insert(outer.end(), inner.begin() + 2, inner.end());
    const CarveEnd end = walk(CarveFormat::Jpeg, concat(outer, test::randomBytes(4096, 1)));
    EXPECT_EQ(end.state, FindState::Whole);
    EXPECT_EQ(end.size, outer.size());

    // A picture cut inside its image data and followed at the next sector by another picture:
    // partial, and it ends before the next one begins.
    Bytes first(inner.begin(), inner.begin() + static_cast<std::ptrdiff_t>(inner.size() - 200));
    first.resize(1024, 0x00);
    const CarveEnd cut = walk(CarveFormat::Jpeg, concat(first, inner));
    EXPECT_EQ(cut.state, FindState::Partial);
    EXPECT_LE(cut.size, 1024u);
}

TEST(CarveFormats, PdfEndsAtItsLastUpdateAndBeforeTheNextDocument) {
    Bytes pdf = fixture("doc.pdf");
    const std::string update = "1 0 obj\n<< >>\nendobj\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< >>\n"
                               "startxref\n9\n%%EOF\n";
    const Bytes updated = concat(pdf, Bytes(update.begin(), update.end()));
    EXPECT_EQ(walk(CarveFormat::Pdf, concat(updated, Bytes(600, 0))).size, updated.size());

    // An end marker that no cross-reference precedes is text, not the end.
    std::string text = "%PDF-1.4\n1 0 obj\n(%%EOF)\nendobj\n";
    Bytes lone(text.begin(), text.end());
    lone.resize(1024, ' ');
    const Bytes next = concat(lone, pdf);
    const CarveEnd end = walk(CarveFormat::Pdf, next);
    // Cut after its last object: the next document starting a sector ends the search.
    EXPECT_EQ(end.state, FindState::Partial);
    EXPECT_EQ(end.size, text.size() - 1);
}

// RAR structures, built field by field with their header CRCs.
Bytes rar4(bool damaged) {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    const auto block = [&](std::uint8_t type, std::uint16_t flags, Bytes body, const Bytes& data = {}) {
        Bytes h = {type, static_cast<std::uint8_t>(flags), static_cast<std::uint8_t>(flags >> 8), 0, 0};
        h.insert(h.end(), body.begin(), body.end());
        const std::size_t size = h.size() + 2;
        h[3] = static_cast<std::uint8_t>(size);
        h[4] = static_cast<std::uint8_t>(size >> 8);
        const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, h.data(), static_cast<uInt>(h.size())));
        out.push_back(static_cast<std::uint8_t>(crc));
        out.push_back(static_cast<std::uint8_t>(crc >> 8));
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), data.begin(), data.end());
    };
    block(0x73, 0, Bytes(6, 0));
    const Bytes data = test::randomBytes(300, 2);
    Bytes file(25, 0); // pack size, unpacked size, host, crc, time, version, method, name size, attributes
    file[0] = static_cast<std::uint8_t>(data.size());
    file[1] = static_cast<std::uint8_t>(data.size() >> 8);
    file[19] = 1; // name size
    file.push_back('a');
    block(0x74, 0x8000, file, data);
    if (damaged) out[out.size() - data.size() - 10] ^= 1;
    block(0x7B, 0x4000, {});
    return out;
}

Bytes rar5() {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    const auto block = [&](Bytes fields, const Bytes& data = {}) {
        Bytes h = {static_cast<std::uint8_t>(fields.size())};
        h.insert(h.end(), fields.begin(), fields.end());
        const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, h.data(), static_cast<uInt>(h.size())));
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), data.begin(), data.end());
    };
    block({1, 0, 0});                              // main: type, flags, archive flags
    const Bytes data = test::randomBytes(100, 4);
    block({2, 2, 100, 0, 0, 0, 0, 1, 'a'}, data); // file with 100 data bytes
    block({5, 0, 0});                              // end of archive
    return out;
}

TEST(CarveFormats, RarArchivesEndWithTheirEndBlock) {
    for (const Bytes& archive : {rar4(false), rar5()}) {
        const CarveEnd end = walk(CarveFormat::Rar, concat(archive, test::randomBytes(512, 8)));
        EXPECT_EQ(end.state, FindState::Whole);
        EXPECT_EQ(end.size, archive.size());
    }
    // A header whose CRC fails after the main header: cut there.
    const Bytes bad = rar4(true);
    const CarveEnd end = walk(CarveFormat::Rar, bad);
    EXPECT_EQ(end.state, FindState::Partial);
    EXPECT_EQ(end.size, 7u + 13u);
}

TEST(CarveFormats, TheDefaultSignaturesCarveRealFilesWholePartialOrNotAtAll) {
    constexpr std::uint64_t MiB = 1u << 20;
    Bytes volume = test::randomBytes(12 * MiB, 17);
    const auto put = [&](std::uint64_t at, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), volume.begin() + static_cast<std::ptrdiff_t>(at));
    };
    const Bytes jpg = fixture("restart.jpg"), docx = fixture("tiny.docx"), mov = fixture("clip.mov");
    const Bytes png = fixture("image.png"), sevenZip = fixture("archive.7z"), ole = fixture("doc.ole");
    put(1536, jpg);
    put(4 * MiB - 512, docx); // across the sweep's pieces
    put(5 * MiB, mov);
    put(5 * MiB + 8192, ole);
    put(6 * MiB, Bytes(png.begin(), png.begin() + 2000)); // cut short, random bytes after
    Bytes broken = png;
    broken[12] = 'X'; // the first chunk is not a header
    put(7 * MiB, broken);
    // An archive whose header lies past the volume's end: partial, up to its packed streams.
    Bytes longer = sevenZip;
    test::putLe32(longer, 20, 100000);
    test::putLe32(longer, 8, static_cast<std::uint32_t>(crc32(0, longer.data() + 12, 20)));
    put(12 * MiB - 512, longer);
    // An MP3 stream without its ID3 tag, known by its first frame header.
    const Bytes tone = fixture("tone.mp3");
    const Bytes untagged(tone.begin() + 104, tone.end());
    put(8 * MiB, untagged);
    MemoryReader reader(volume);
    myJpg engine;
    for (const auto& r : defaultSignatureRecords()) engine.addSignature(r);
    engine.attach(&reader, volume.size(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(engine.carveVolume());
    struct Want {
        std::uint64_t start, size;
        FindState state;
        std::string extension;
    };
    const std::vector<Want> want = {
        {1536, jpg.size(), FindState::Whole, "jpg"},
        {4 * MiB - 512, docx.size(), FindState::Whole, "docx"},
        {5 * MiB, mov.size(), FindState::Whole, "mov"},
        {5 * MiB + 8192, ole.size(), FindState::Whole, "doc"},
        {8 * MiB, untagged.size(), FindState::Whole, "mp3"},
        {12 * MiB - 512, 408, FindState::Partial, "7z"},
    };
    std::vector<Want> got;
    for (const auto& f : engine.foundFiles()) {
        if (f.start == 6 * MiB) { // the cut picture: partial, ending near the cut
            EXPECT_EQ(f.state, FindState::Partial);
            EXPECT_LE(f.size, 2000u);
            continue;
        }
        got.push_back({f.start, f.size, f.state, engine.extensionOf(f)});
    }
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].start, want[i].start) << i;
        EXPECT_EQ(got[i].size, want[i].size) << i;
        EXPECT_EQ(got[i].state, want[i].state) << i;
        EXPECT_EQ(got[i].extension, want[i].extension) << i;
    }
    EXPECT_EQ(engine.foundFiles().size(), want.size() + 1); // nothing at the broken picture
}

TEST(CarveFormats, TheReservedFieldNamesTheFormatOnlyWithItsTag) {
    EXPECT_EQ(formatOfReserved(reservedOfFormat(CarveFormat::Zip)), CarveFormat::Zip);
    EXPECT_EQ(formatOfReserved(0), CarveFormat::None);
    EXPECT_EQ(formatOfReserved(static_cast<std::uint32_t>(CarveFormat::Zip)), CarveFormat::None);
    EXPECT_EQ(formatOfReserved(kFormatTag | 0x1234), CarveFormat::None);
}

} // namespace
} // namespace vindaru
