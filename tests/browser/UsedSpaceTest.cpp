// The used space a free-space-only carve passes over, on the corpus volume of every file system,
// typed "RAW" so that the file system is told from its first sectors: the first bytes of every
// live file lie in it, those of every deleted file still whole ("Recoverable" 100%) outside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_map>

#include "browser/EntryWalker.h"
#include "browser/UsedSpace.h"
#include "browser/VolumeSession.h"
#include "common/ByteLoader.h"
#include "image/MemoryReader.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

constexpr std::size_t kProbeBytes = 4096;

TEST(UsedSpaceCorpus, LiveFilesLieInTheUsedSpaceAndWholeDeletedFilesOutsideIt) {
    int checked = 0;
    for (const auto& [name, type] : std::vector<std::pair<std::string, std::string>>{
             {"ntfs", "NTFS"}, {"fat16", "FAT16"}, {"fat32", "FAT32"}, {"exfat", "FAT64"}, {"ext2", "extX"}, {"ext4", "extX"}, {"hfsplus", "HFS+"}}) {
        SCOPED_TRACE(name);
        const auto image = test::unpackedCorpusImage("generated/" + name + ".img.zst");
        if (!image) continue;
        const std::vector<std::uint8_t> bytes = test::readFile(*image);
        MemoryReader reader(bytes);
        VolumeRecord volume{"RAW", "0", std::to_string(bytes.size() >> 20), 0, bytes.size() / 512};
        const UsedSpace space = usedSpaceOf(reader, volume);
        ASSERT_TRUE(space.ranges.has_value()) << space.message;
        const auto used = [&](std::uint64_t at) {
            return std::any_of(space.ranges->begin(), space.ranges->end(), [&](const auto& r) { return r.first <= at && at < r.second; });
        };
        // Files start at sector boundaries: each sector by its first eight bytes.
        std::unordered_map<std::uint64_t, std::uint64_t> sectors;
        for (std::uint64_t at = 0; at + kProbeBytes <= bytes.size(); at += 512) sectors.emplace(le64(bytes, at), at);

        CheckTree tree;
        RecordingStatusSink status, second;
        RecordingProgressSink progress;
        RecordingMessageSink messages;
        volume.fileSystemName = type;
        VolumeSession logic(&reader, volume, tree, BrowserSinks{status, second, progress, messages});
        ASSERT_EQ(logic.prepare(), VolumeSession::Prepared::Ready);
        logic.run();
        EntryView& view = *logic.view();
        std::vector<EntryRef> first;
        for (auto item : tree.children(logic.volumeItem())) first.push_back(*tree.getItemData(item));
        int live = 0;
        EntryWalker(view, EntryWalker::DirectoryTest::Listing).walkLevel(first, view.rootEntry(), [&](const EntryWalker::Visit& v) {
            if (v.directory || view.byteSize(v.entry) < kProbeBytes) return true;
            std::vector<std::uint8_t> head;
            view.writeContent(v.entry, [&](std::span<const std::uint8_t> piece) {
                head.insert(head.end(), piece.begin(), piece.end());
                return head.size() < kProbeBytes;
            });
            head.resize(kProbeBytes);
            // Compressed files and files of one repeated byte are not found by their bytes.
            const auto sector = sectors.find(le64(head, 0));
            if (std::all_of(head.begin(), head.end(), [&](std::uint8_t b) { return b == head[0]; }) || sector == sectors.end() ||
                !std::equal(head.begin(), head.end(), bytes.begin() + static_cast<std::ptrdiff_t>(sector->second)))
                return true;
            if (!view.isDeleted(v.entry)) {
                EXPECT_TRUE(used(sector->second)) << view.label(v.entry) << " at " << sector->second;
                ++live;
            } else if (view.recoverableShare(v.entry) == 1.0) {
                EXPECT_FALSE(used(sector->second)) << view.label(v.entry) << " at " << sector->second;
            }
            return true;
        });
        EXPECT_GE(live, 2);
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "the corpus images are not available";
}

} // namespace
} // namespace vindaru
