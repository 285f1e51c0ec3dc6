#include "fs/ext2/Ext2VolumeParser.h"

#include <cctype>

#include "fs/ext2/Ext2EntryView.h"
#include "fs/ext2/ext2Class.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kMegabyte = 1u << 20;
constexpr const char* kExt2Done = "done..";

// The whole MiB at the start of a volume record's size text; 0 for none.
std::uint64_t sizeTextBytes(const std::string& text) {
    std::uint64_t mb = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (!checkedMul(mb, 10, mb) || !checkedAdd(mb, static_cast<std::uint64_t>(c - '0'), mb))
            return UINT64_MAX;
    }
    std::uint64_t bytes = 0;
    return checkedMul(mb, kMegabyte, bytes) ? bytes : UINT64_MAX;
}

class Ext2VolumeParser : public VolumeParser {
public:
    explicit Ext2VolumeParser(const ParserSetup& setup)
        : parser_(setup.reader, setup.volume, setup.sinks.status, setup.sinks.progress), view_(parser_) {}

    FileSystemKind kind() const override { return FileSystemKind::Ext; }
    void attachSinks(const ScanSinks& sinks) override { parser_.attachSinks(sinks.status, sinks.progress); }
    EntryView& view() override { return view_; }
    EngineControl& control() override { return parser_.control; }

    ScanOutcome scan(const ScanRequest& request) override {
        ScanOutcome outcome;
        outcome.endMessages = {kExt2Done};
        parser_.attachTree(request.tree, request.volumeItem);
        if (!parser_.attachVolume()) return outcome;
        // A volume under 1 MiB is listed as 0 MB; its real extent is the rest of the disk.
        parser_.volumeBytes = sizeTextBytes(parser_.volume.sizeText);
        if (parser_.volumeBytes == 0) parser_.volumeBytes = diskEndFromBase(parser_.reader);
        if (parser_.volumeBytes == 0) return outcome;
        if (!parser_.findSuperblock() || !parser_.readGroupDescriptors()) return outcome;
        parser_.readInodeTables();
        parser_.readJournal();
        parser_.parseDirectories();
        parser_.buildEntryMap();
        parser_.linkParentChild();
        parser_.fillRootInTree();
        return outcome;
    }

private:
    ext2Class parser_;
    Ext2EntryView view_;
};

} // namespace

std::shared_ptr<VolumeParser> createExt2Parser(const ParserSetup& setup) {
    return std::make_shared<Ext2VolumeParser>(setup);
}

} // namespace vindaru
