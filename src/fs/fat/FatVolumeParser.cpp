// The three FAT-family parsers as VolumeParser: one class over the parser object of its kind.
#include "fs/fat/FatParsers.h"

#include "fs/fat/Fat16Class.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/Fat64Class.h"
#include "fs/fat/FatEntryView.h"

namespace vindaru {

namespace {

class FatVolumeParser : public VolumeParser, public AdvancedPart {
public:
    FatVolumeParser(FileSystemKind kind, std::unique_ptr<FatFamilyBase> parser, bool saveNeedsChildren)
        : kind_(kind), parser_(std::move(parser)), view_(*parser_, saveNeedsChildren) {}

    FileSystemKind kind() const override { return kind_; }
    void attachSinks(const ScanSinks& sinks) override { parser_->attachSinks(sinks); }
    ScanOutcome scan(const ScanRequest& request) override {
        if (request.mode == kScanModeAdvanced)
            return parser_->scanAdvanced(request.choice, request.tree, request.volumeItem);
        return parser_->scanStandard(request.tree, request.volumeItem);
    }
    EntryView& view() override { return view_; }
    EngineControl& control() override { return parser_->control(); }
    AdvancedPart* advanced() override { return this; }
    std::optional<UsedRanges> usedByteRanges() override { return parser_->usedByteRanges(); }

    void searchCandidates(std::uint64_t limit) override { parser_->searchCandidates(limit); }
    AdvancedLists lists() const override { return parser_->advancedLists(); }
    std::optional<std::uint64_t> clusterChoiceBeyondList(std::uint64_t number) const override {
        return parser_->clusterChoiceBeyondList(number);
    }

private:
    FileSystemKind kind_;
    std::unique_ptr<FatFamilyBase> parser_;
    FatEntryView view_;
};

} // namespace

std::shared_ptr<VolumeParser> createFat16Parser(const ParserSetup& setup) {
    return std::make_shared<FatVolumeParser>(
        FileSystemKind::Fat16,
        std::make_unique<Fat16Class>(setup.reader, setup.volume, setup.sinks, setup.driveFormatted), false);
}

std::shared_ptr<VolumeParser> createFat32Parser(const ParserSetup& setup) {
    return std::make_shared<FatVolumeParser>(
        FileSystemKind::Fat32,
        std::make_unique<Fat32Class>(setup.reader, setup.volume, setup.sinks, setup.driveFormatted), false);
}

std::shared_ptr<VolumeParser> createExFatParser(const ParserSetup& setup) {
    return std::make_shared<FatVolumeParser>(
        FileSystemKind::ExFat,
        std::make_unique<Fat64Class>(setup.reader, setup.volume, setup.sinks, setup.driveFormatted), true);
}

} // namespace vindaru
