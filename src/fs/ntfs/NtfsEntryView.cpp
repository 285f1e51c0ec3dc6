#include "fs/ntfs/NtfsEntryView.h"

#include <algorithm>

#include "common/TextConvert.h"
#include "fs/parser/VolumeParser.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kFiletimeTicksPerSecond = 10'000'000;
constexpr std::uint32_t kNanosecondsPerTick = 100;

} // namespace

std::optional<EntryRef> NtfsEntryView::rootEntry() const {
    if (!parser_.isValidIndex(parser_.rootIndex)) return std::nullopt;
    return parser_.rootIndex;
}

bool NtfsEntryView::isEntry(EntryRef entry) const {
    return entry != 0 && parser_.isValidIndex(entry) &&
           parser_.entries[entry].hasFileSignature();
}

std::vector<EntryRef> NtfsEntryView::children(EntryRef entry) const {
    if (!parser_.isValidIndex(entry)) return {};
    return parser_.childrenOf(entry);
}

std::vector<EntryRef> NtfsEntryView::topLevel() const {
    std::vector<EntryRef> top;
    const bool hasRoot = parser_.rootIndex < parser_.entries.size();
    if (!hasRoot && parser_.scanMode != kScanModeDeep) return top;
    // The root's chain may loop back on itself: childrenOf gives each entry once.
    if (hasRoot) top = parser_.childrenOf(parser_.rootIndex);
    if (isPlaceholder(parser_.orphanIndex) &&
        std::find(top.begin(), top.end(), parser_.orphanIndex) == top.end())
        top.push_back(parser_.orphanIndex);
    return top;
}

EntryTexts NtfsEntryView::describe(EntryRef entry) {
    std::lock_guard lock(mutex_);
    const EntryDescription d = parser_.describeEntry(entry);
    return EntryTexts{d.creationText, d.accessText, d.modificationText, d.attributeText};
}

std::string NtfsEntryView::sizeText(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.formatEntrySize(entry);
}

std::uint64_t NtfsEntryView::byteSize(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.entrySize(entry);
}

EntryTimes NtfsEntryView::times(EntryRef entry) {
    std::lock_guard lock(mutex_);
    const EntryDescription d = parser_.describeEntry(entry);
    EntryTimes t;
    t.known = d.hasTimes;
    t.accessSeconds = d.accessUnix;
    t.accessNanoseconds = static_cast<std::uint32_t>(d.accessTime % kFiletimeTicksPerSecond) *
                          kNanosecondsPerTick;
    t.modificationSeconds = d.modificationUnix;
    t.modificationNanoseconds =
        static_cast<std::uint32_t>(d.modificationTime % kFiletimeTicksPerSecond) *
        kNanosecondsPerTick;
    return t;
}

bool NtfsEntryView::writeContent(EntryRef entry, const ContentSink& sink) {
    std::lock_guard lock(mutex_);
    bool sinkOk = true;
    const bool read = parser_.writeEntryContent(entry, [&](std::span<const std::uint8_t> data) {
        sinkOk = sink(data);
        return sinkOk;
    });
    return read && sinkOk;
}

std::optional<double> NtfsEntryView::recoverableShare(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.recoverableShare(entry);
}

bool NtfsEntryView::isDirectoryForSave(EntryRef entry, bool selected) const {
    if (!parser_.isValidIndex(entry) || !parser_.isDirectory(entry)) return false;
    if (!selected) return true;
    const std::uint64_t self = parser_.entries[entry].selfIndex;
    return self != 0 && parser_.isValidIndex(self);
}

bool NtfsEntryView::rename(EntryRef entry, const std::string& name) {
    std::lock_guard lock(mutex_);
    return parser_.renameEntry(entry, utf8ToUtf16(name));
}

} // namespace vindaru
