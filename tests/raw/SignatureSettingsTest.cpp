#include <gtest/gtest.h>

#include "raw/CarveFormats.h"
#include "raw/DefaultSignatures.h"
#include "raw/SignatureFields.h"
#include "raw/SignatureFile.h"
#include "raw/SignatureSamples.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::ScratchDir;
using test::pngFields;

TEST(SignatureRecord, FreshRecordAndFieldOffsets) {
    const signatureRecord::Bytes fresh = signatureRecord{}.encode();
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        const bool sizeOffset = i >= 36 && i < 40;
        EXPECT_EQ(fresh[i], i == 35 || sizeOffset ? 0xFF : 0x00) << "byte " << i;
    }

    signatureRecord r;
    r.setExtension("jpeg2");
    r.startOffset = 0x0102;
    r.startBytes = {0xFF, 0xD8};
    r.startLength = 2;
    r.endBytes = {0xFF, 0xD9};
    r.endLength = 2;
    r.recordIndex = 3;
    r.sizeOffset = 0x11223344;
    r.bytesInSize = 4;
    r.headerSize = 54;
    r.sizeIncludesHeader = 1;
    r.approximateSize = 0x0102030405060708;
    r.skipSize = 4096;
    r.setCategory("Pictures");
    const signatureRecord::Bytes b = r.encode();
    EXPECT_EQ(b[0], 'j');
    EXPECT_EQ(b[6], 'g');
    EXPECT_EQ(b[8], 0); // a five-letter extension keeps four letters
    EXPECT_EQ(b[10], 0x02);
    EXPECT_EQ(b[11], 0x01);
    EXPECT_EQ(b[12], 5);
    EXPECT_EQ(b[13], 0xFF);
    EXPECT_EQ(b[24], 0xD9);
    EXPECT_EQ(b[33], 2);
    EXPECT_EQ(b[35], 3);
    EXPECT_EQ(b[36], 0x44);
    EXPECT_EQ(b[39], 0x11);
    EXPECT_EQ(b[40], 4);
    EXPECT_EQ(b[44], 54);
    EXPECT_EQ(b[48], 1);
    EXPECT_EQ(b[53], 0x08);
    EXPECT_EQ(b[60], 0x01);
    EXPECT_EQ(b[62], 0x10); // 4096
    EXPECT_EQ(b[69], 'P');
    EXPECT_EQ(b[70], 0);
    EXPECT_EQ(b[71], 'i');

    const auto back = signatureRecord::decode(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, r);
    EXPECT_EQ(back->extensionText(), "jpeg");
    EXPECT_EQ(back->categoryText(), "Pictures");
    EXPECT_FALSE(signatureRecord::decode(std::span(b).first(172)));
}

TEST(SignatureEditor, SignatureTextsAndNumbers) {
    EXPECT_EQ(parseSignatureBytes("0x89,0x50,0x4E,0x47"), parseSignatureBytes("89,50,4E,47"));
    EXPECT_EQ(parseSignatureBytes(",,0x89,, 50 ,"), (std::vector<std::uint8_t>{0x89, 0x50}));
    EXPECT_EQ(parseSignatureBytes("1FF"), (std::vector<std::uint8_t>{0xFF})); // the low byte
    EXPECT_EQ(parseSignatureBytes("1,2,3,4,5,6,7,8,9,a,b,c").size(), 10u);
    EXPECT_TRUE(parseSignatureBytes(" , ,").empty());
    EXPECT_EQ(parseFieldNumber("4096"), 4096);
    EXPECT_EQ(parseFieldNumber(" 12abc"), 12);
    EXPECT_EQ(parseFieldNumber("abc"), 0);
    EXPECT_EQ(parseFieldNumber("-5"), -5);

    std::string error;
    SignatureFields f = pngFields();
    f.extension.clear();
    EXPECT_FALSE(buildSignatureRecord(f, 0, error));
    EXPECT_EQ(error, "extention length is zero..");
    f = pngFields();
    f.startSignature = ",";
    EXPECT_FALSE(buildSignatureRecord(f, 0, error));
    EXPECT_EQ(error, "signature length is zero..");

    f = pngFields();
    f.sizeOffset = "0";
    f.category = std::string(60, 'c');
    const auto r = buildSignatureRecord(f, 7, error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sizeOffset, -1); // 0 means not given
    EXPECT_EQ(r->recordIndex, 7);
    EXPECT_EQ(r->endLength, 8);
    EXPECT_EQ(r->categoryText(), std::string(50, 'c'));
}

class SignatureFileLimits : public ::testing::Test {
protected:
    std::vector<std::uint8_t> records(std::size_t n, std::uint8_t lastIndex, std::int32_t lastBytesInSize = 0) {
        std::vector<std::uint8_t> out;
        std::string error;
        for (std::size_t i = 0; i < n; ++i) {
            signatureRecord r = *buildSignatureRecord(pngFields(), static_cast<std::uint8_t>(i), error);
            if (i + 1 == n) {
                r.recordIndex = lastIndex;
                r.bytesInSize = lastBytesInSize;
            }
            const auto bytes = r.encode();
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        return out;
    }
    SignatureFileResult load(const std::vector<std::uint8_t>& bytes, bool userFile) {
        const auto path = dir / "s.txt";
        test::writeFile(path, bytes);
        std::vector<signatureRecord> fromMemory;
        const auto inMemory = parseSignatureFile(bytes, userFile, fromMemory);
        const auto result = readSignatureFile(path.string(), userFile, loaded);
        EXPECT_EQ(inMemory, result);
        EXPECT_EQ(fromMemory, loaded);
        return result;
    }
    ScratchDir dir;
    std::vector<signatureRecord> loaded;
};

TEST_F(SignatureFileLimits, EmptyTruncatedAndOversizedFilesAreRefused) {
    EXPECT_EQ(load({}, true), SignatureFileResult::Invalid);
    EXPECT_EQ(load(std::vector<std::uint8_t>(172, 0), true), SignatureFileResult::Invalid);
    // The last record may start at 1 MiB, not one record later.
    const std::size_t atLimit = (1u << 20) / kSignatureRecordBytes + 1;
    EXPECT_EQ(load(records(atLimit, 0), true), SignatureFileResult::Loaded);
    EXPECT_EQ(load(records(atLimit + 1, 0), true), SignatureFileResult::Invalid);
    std::vector<signatureRecord> none;
    EXPECT_EQ(readSignatureFile((dir / "missing").string(), true, none), SignatureFileResult::NotOpened);
}

TEST_F(SignatureFileLimits, TheLastIndexSaysHowManyRecordsAreRead) {
    EXPECT_EQ(load(records(5, 1), true), SignatureFileResult::Loaded);
    EXPECT_EQ(loaded.size(), 2u);
    // An index beyond the file reads the records the file has, and a trailing piece is ignored.
    auto bytes = records(3, 200);
    bytes.resize(bytes.size() + 100, 0xEE);
    EXPECT_EQ(load(bytes, true), SignatureFileResult::Loaded);
    EXPECT_EQ(loaded.size(), 3u);
}

TEST_F(SignatureFileLimits, BytesInSizeAboveEightRefusesOnlyAUserFile) {
    EXPECT_EQ(load(records(2, 1, 9), true), SignatureFileResult::Invalid);
    EXPECT_EQ(load(records(2, 1, 8), true), SignatureFileResult::Loaded);
    EXPECT_EQ(load(records(2, 1, 9), false), SignatureFileResult::Loaded);
}

TEST(DefaultSignatures, TheShippedFileIsTheTableAndLoadsBack) {
    ScratchDir dir;
    const auto path = (dir / kDefaultSignatureFileName).string();
    ASSERT_TRUE(writeDefaultSignatureFile(path));
    std::vector<signatureRecord> records;
    ASSERT_EQ(readSignatureFile(path, true, records), SignatureFileResult::Loaded);
    EXPECT_EQ(records, defaultSignatureRecords());
    EXPECT_EQ(std::filesystem::file_size(path), records.size() * kSignatureRecordBytes);

    // Written field by field by the editor's rules, the file is the same bytes but for the format
    // each default record names in its first reserved field (which the editor leaves 0).
    const auto edited = (dir / "edited.txt").string();
    std::string error;
    for (const SignatureFields& f : defaultSignatureFields()) ASSERT_TRUE(appendSignatureRecord(edited, f, error));
    std::vector<signatureRecord> editedRecords;
    ASSERT_EQ(readSignatureFile(edited, true, editedRecords), SignatureFileResult::Loaded);
    ASSERT_EQ(editedRecords.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_NE(formatOfReserved(records[i].reserved1), CarveFormat::None);
        EXPECT_EQ(editedRecords[i].reserved1, 0u);
        editedRecords[i].reserved1 = records[i].reserved1;
        EXPECT_EQ(editedRecords[i], records[i]);
    }

    std::set<std::string> categories;
    for (const auto& r : records) categories.insert(r.categoryText());
    EXPECT_EQ(categories, (std::set<std::string>{"Archives", "Audio", "Documents", "Pictures", "Video"}));
}

} // namespace
} // namespace vindaru
