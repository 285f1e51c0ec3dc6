// The used space a free-space-only carve passes over, on the corpus volumes of every file
// system, each typed "RAW" so that the file system is told from the volume's first sectors:
// the first bytes of every live file lie in it, those of every deleted file that is still whole
// ("Recoverable" 100%) lie outside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_map>

#include "browser/EntryWalker.h"
#include "common/ByteLoader.h"
#include "browser/UsedSpace.h"
#include "browser/VolumeScanLogic.h"
#include "image/MemoryReader.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::readFile;

constexpr std::size_t kProbeBytes = 4096;

TEST(UsedSpaceCorpus, LiveFilesLieInTheUsedSpaceAndWholeDeletedFilesOutsideIt) {
    const std::pair<const char*, const char*> volumes[] = {{"ntfs", "NTFS"},  {"fat16", "FAT16"}, {"fat32", "FAT32"},
                                                           {"exfat", "FAT64"}, {"ext2", "extX"},  {"ext4", "extX"},
                                                           {"hfsplus", "HFS+"}};
    int checkedVolumes = 0;
    for (const auto& [name, type] : volumes) {
        SCOPED_TRACE(name);
        const auto image = test::unpackedCorpusImage(std::string("generated/") + name + ".img.zst");
        if (!image) continue;
        const std::vector<std::uint8_t> bytes = readFile(*image);
        MemoryReader reader(bytes);
        const VolumeRecord raw{"RAW", "0", std::to_string(bytes.size() >> 20), 0, bytes.size() / 512};
        const UsedSpace space = usedSpaceOf(reader, raw);
        ASSERT_TRUE(space.ranges.has_value()) << space.message;
        // Files start at sector boundaries: each sector by its first eight bytes (the first such
        // sector when several share them).
        std::unordered_map<std::uint64_t, std::uint64_t> sectors;
        for (std::uint64_t at = 0; at + kProbeBytes <= bytes.size(); at += 512) sectors.emplace(le64(bytes, at), at);
        const auto used = [&](std::uint64_t at) {
            return std::any_of(space.ranges->begin(), space.ranges->end(),
                               [&](const auto& r) { return r.first <= at && at < r.second; });
        };

        CheckTree tree;
        RecordingStatusSink status, second;
        RecordingProgressSink progress;
        RecordingMessageSink messages;
        VolumeRecord typed = raw;
        typed.fileSystemName = type;
        VolumeScanLogic logic(&reader, typed, tree, BrowserSinks{status, second, progress, messages});
        ASSERT_EQ(logic.prepare(), VolumeScanLogic::Prepared::Ready);
        logic.run();
        EntryView& view = *logic.view();
        std::vector<EntryRef> first;
        for (auto item : tree.children(logic.volumeItem())) first.push_back(*tree.getItemData(item));
        int live = 0;
        int deleted = 0;
        EntryWalker(view, EntryWalker::DirectoryTest::Listing).walkLevel(first, view.rootEntry(), [&](const EntryWalker::Visit& v) {
            if (v.directory || view.byteSize(v.entry) < kProbeBytes) return true;
            std::vector<std::uint8_t> head;
            view.writeContent(v.entry, [&](std::span<const std::uint8_t> piece) {
                head.insert(head.end(), piece.begin(), piece.end());
                return head.size() < kProbeBytes;
            });
            head.resize(kProbeBytes);
            // Files of one repeated byte (zeros) and compressed ones are not found by their bytes.
            if (std::all_of(head.begin(), head.end(), [&](std::uint8_t b) { return b == head[0]; })) return true;
            const auto sector = sectors.find(le64(head, 0));
            if (sector == sectors.end() || !std::equal(head.begin(), head.end(), bytes.begin() + static_cast<std::ptrdiff_t>(sector->second)))
                return true;
            const std::uint64_t offset = sector->second;
            const std::string label = view.label(v.entry);
            if (!view.isDeleted(v.entry)) {
                EXPECT_TRUE(used(offset)) << label << " at " << offset;
                ++live;
            } else if (view.recoverableShare(v.entry) == 1.0) {
                EXPECT_FALSE(used(offset)) << label << " at " << offset;
                ++deleted;
            }
            return true;
        });
        EXPECT_GE(live, 2);
        ++checkedVolumes;
    }
    if (checkedVolumes == 0) GTEST_SKIP() << "the corpus images are not available";
}

} // namespace
} // namespace vindaru
