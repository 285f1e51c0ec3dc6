// The signature editor page without its window: the file it saves into, one record per Save,
// and the help texts of its fields.
#include <gtest/gtest.h>

#include <filesystem>

#include "pages/RawSettingLogic.h"
#include "raw/SignatureFile.h"
#include "raw/SignatureSamples.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::ScratchDir;
using test::pngFields;

TEST(SignatureEditor, SavesRecordsOneAtATimeIntoTheChosenFile) {
    ScratchDir dir;
    RecordingMessageSink messages;
    RawSettingLogic editor(messages);
    EXPECT_FALSE(editor.save(pngFields()));
    EXPECT_EQ(messages.texts().back(), "Select valid file to save the entries.");

    const auto path = (dir / "mine.txt").string();
    test::writeFile(path, std::vector<std::uint8_t>(400, 0xAB)); // replaced, not appended to
    ASSERT_TRUE(editor.chooseFile(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(editor.save(pngFields()));
    EXPECT_EQ(messages.texts().back(), "everything initialized well.....");
    EXPECT_EQ(std::filesystem::file_size(path), 519u);

    std::vector<signatureRecord> records;
    ASSERT_EQ(readSignatureFile(path, true, records), SignatureFileResult::Loaded);
    ASSERT_EQ(records.size(), 3u);
    for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(records[i].recordIndex, i);

    // The same records built from the fields are the same bytes.
    std::vector<std::uint8_t> expected;
    std::string error;
    for (std::uint8_t i = 0; i < 3; ++i) {
        const auto bytes = buildSignatureRecord(pngFields(), i, error)->encode();
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(test::readFile(path), expected);

    EXPECT_FALSE(editor.chooseFile((dir / "no" / "such" / "folder.txt").string()));
    EXPECT_EQ(messages.messages.back().text, "file can not be created");
    EXPECT_FALSE(messages.messages.back().withCaption);
}

TEST(SignatureEditor, HelpTextsOfEveryField) {
    const auto& texts = RawSettingLogic::helpTexts();
    ASSERT_EQ(texts.size(), 11u);
    EXPECT_EQ(texts[0], "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) "
                        "before extention(i.e .mp3)");
    EXPECT_EQ(texts[10], "Enter the name of category you want to put these files under");
}

} // namespace
} // namespace vindaru
