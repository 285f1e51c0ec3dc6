// Parsing every MFT record slot, linking the entries into a tree, orphans, and the entry view.
#include <algorithm>

#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "common/TimeConvert.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

// $FILE_NAME content fields.
constexpr std::size_t kFileNameParent = 0x00;
constexpr std::size_t kFileNameAllocatedSize = 0x28;
constexpr std::size_t kFileNameFlags = 0x38;
constexpr std::size_t kFileNameLength = 0x40;
constexpr std::size_t kFileNameName = 0x42;
constexpr std::uint32_t kFileNameDirectoryFlag = 0x10000000;
constexpr std::size_t kFileNameNamespace = 0x41;
constexpr std::uint8_t kDosNamespace = 2;
// Marks, in a link's kind, the link its record's entry shows.
constexpr std::uint8_t kShownLink = 0x80;
// Extra names kept in all (hard links; real volumes have few), and deleted unnamed records
// whose attribute list is read to see whether their name lived elsewhere.
constexpr std::size_t kMaxExtraNames = 1 << 20;
constexpr std::size_t kMaxUnnamedExamined = 1 << 16;
constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
constexpr std::uint64_t kRootRecordNumber = 5;

// $STANDARD_INFORMATION content fields.
constexpr std::size_t kStdCreationTime = 0x00;
constexpr std::size_t kStdModificationTime = 0x08;
constexpr std::size_t kStdAccessTime = 0x18;

constexpr std::uint16_t kRecordInUse = 0x0001;
constexpr std::uint8_t kDirectoryKind = 'D';

// The scan reads this many bytes of consecutive records at once.
constexpr std::size_t kParseChunkBytes = 4 * 1024 * 1024;
// One status line and progress message per this many records: the texts are the same, a
// volume of a million records just does not send a million of them.
constexpr std::uint64_t kStatusEvery = 256;

// Filetime ticks per minute: the texts show minutes, and a time-zone offset changes only at a
// whole minute, so every time of one minute has one text.
constexpr std::uint64_t kTicksPerMinute = 600000000;
// Distinct minutes remembered; a volume's files mostly share few.
constexpr std::size_t kMaxCachedMinutes = 1 << 16;

} // namespace

std::uint64_t ntfs::storeName(std::u16string_view name) {
    const std::uint64_t offset = namePool_.size();
    namePool_.append(name);
    return offset;
}

bool ntfs::parseEntry(std::uint64_t position, std::uint64_t index) {
    if (index >= entries.size()) return false;
    std::vector<std::uint8_t> raw(recordSize);
    const bool readable = position == entries[index].recordPosition ? readSlot(index, raw) : readAt(position, raw);
    parseRecordAttributes(raw, index, readable);
    return readable;
}

// Takes what the tree needs from one record: its header fields and its names. Links are made
// once every record is known (parseAllEntries), since a parent's kind, its sequence number and
// the extension record that may hold its name can come later in the MFT than its children.
void ntfs::parseRecordAttributes(ByteSpan raw, std::uint64_t index, bool readable) {
    if (index >= entries.size() || !readable) return; // contents come only from a read record
    const std::size_t size = std::clamp(raw.size(), kMftRecordSize, kMaxMftRecordSize);
    const std::span<std::uint8_t> fixedSpan = std::span(fixedScratch_).first(size);
    MftRecord::applyFixup(raw, fixedSpan);
    const ByteSpan fixed(fixedSpan);
    MftRecord::collectAttributes(fixed, scratchHeaders_);
    MftEntry& e = entries[index];
    e.sequence = le16(fixed, kRecordSequence);
    e.baseReference = le64(fixed, kRecordBaseReference);
    e.recordFlags = le16(fixed, kRecordFlags);
    bool firstFileName = true;
    scratchLinks_.clear();
    for (const AttributeHeader& h : scratchHeaders_) {
        if (h.type == kAttrAttributeList) e.hasAttributeList = true;
        if (h.type == kAttrFileName && !h.nonResident)
            applyFileName(fixed, h, index, firstFileName, scratchLinks_);
        // A non-resident $DATA gives nothing at this stage: sizes and runs are read when needed.
    }
    if (scanMode != 3 && scratchLinks_.size() > 1) keepExtraNames(index, fixed, scratchLinks_);
}

void ntfs::applyFileName(ByteSpan fixed, const AttributeHeader& h, std::uint64_t index,
                         bool& firstFileName, std::vector<FileNameLink>& links) {
    const std::uint64_t content = std::uint64_t{h.offset} + le16(h.bytes, kAttrContentOffset);
    if (content >= fixed.size()) return;
    const ByteSpan c = MftRecord::residentContent(fixed, h);
    MftEntry& e = entries[index];
    if (le32(c, kFileNameFlags) & kFileNameDirectoryFlag) e.kind = kDirectoryKind;
    const std::size_t length = u8(c, kFileNameLength);
    // A name that would run past its attribute or the record is damage, not a name.
    if (!fits(c, kFileNameName, length * 2)) return;
    const std::uint64_t parentReference = le64(c, kFileNameParent);
    const std::uint64_t parent = parentReference & kRecordNumberMask;
    const std::uint8_t nameSpace = u8(c, kFileNameNamespace);
    FileNameLink link;
    link.name.of = index;
    link.name.parent = parent;
    link.name.parentSequence = static_cast<std::uint16_t>(parentReference >> 48);
    link.name.nameOffset = static_cast<std::uint64_t>(c.data() - fixed.data());
    link.name.nameLength = static_cast<std::uint16_t>(length);
    link.name.kind = (le32(c, kFileNameFlags) & kFileNameDirectoryFlag) ? kDirectoryKind : 0;
    link.name.allocatedSize = le64(c, kFileNameAllocatedSize);
    link.nameSpace = nameSpace;
    // A later name counts only in the folder of the first: the short and long names of one link
    // share it; a hard link's name in another folder becomes an entry of its own.
    if (!firstFileName && parent != e.parentIndex) {
        if (nameSpace != kDosNamespace) links.push_back(link);
        return;
    }
    std::u16string name(length, u'\0');
    for (std::size_t k = 0; k < length; ++k) name[k] = static_cast<char16_t>(le16(c, kFileNameName + 2 * k));
    e.nameOffset = storeName(name);
    e.nameLength = static_cast<std::uint16_t>(length);
    e.hasName = true;
    e.nameSpace = nameSpace;
    e.allocatedSize = link.name.allocatedSize;
    if (firstFileName) {
        e.parentIndex = parent;
        e.parentSequence = link.name.parentSequence;
        firstFileName = false;
    }
    // The link shown by the entry itself is marked by the top bit of its kind.
    link.name.kind |= kShownLink;
    for (FileNameLink& l : links) l.name.kind &= static_cast<std::uint8_t>(~kShownLink);
    if (nameSpace != kDosNamespace) links.push_back(link);
}

// A live record with several links shows each in its folder: the entry shows one, every
// other becomes an extra entry standing for the same record. A record whose shown name is a
// DOS short name has its long partner among the links in the same folder: that one is not an
// extra name.
void ntfs::keepExtraNames(std::uint64_t index, ByteSpan fixed, const std::vector<FileNameLink>& links) {
    const MftEntry& e = entries[index];
    if (!e.hasName || (e.recordFlags & kRecordInUse) == 0) return;
    bool partnerSkipped = e.nameSpace != kDosNamespace;
    for (const FileNameLink& l : links) {
        if (l.name.kind & kShownLink) continue;
        if (!partnerSkipped && l.name.parent == e.parentIndex) {
            partnerSkipped = true;
            continue;
        }
        const ByteSpan c = subspan(fixed, static_cast<std::size_t>(l.name.nameOffset), kFileNameName + 2 * std::size_t{l.name.nameLength});
        if (c.size() < kFileNameName + 2 * std::size_t{l.name.nameLength}) continue;
        std::u16string name(l.name.nameLength, u'\0');
        for (std::size_t k = 0; k < name.size(); ++k) name[k] = static_cast<char16_t>(le16(c, kFileNameName + 2 * k));
        if (l.name.parent == e.parentIndex && name == entryName(index)) continue;
        if (extraNames_.size() >= kMaxExtraNames) return;
        ExtraName extra = l.name;
        extra.nameOffset = storeName(name);
        extraNames_.push_back(extra);
    }
}

// Record 0 ($MFT) cannot be linked as a child (0 ends a chain): an entry standing for it, as
// for a hard link, lists it in its folder. Where an extension record holds its name, that entry
// shows it already.
void ntfs::listMftRecord() {
    if (slotCount_ == 0 || !entries[0].hasName || entries[0].baseReference != 0) return;
    const MftEntry& mft = entries[0];
    ExtraName x;
    x.of = 0;
    x.parent = mft.parentIndex;
    x.parentSequence = mft.parentSequence;
    x.nameOffset = mft.nameOffset;
    x.nameLength = mft.nameLength;
    x.kind = mft.kind;
    x.allocatedSize = mft.allocatedSize;
    extraNames_.push_back(x);
}

// Extra names become entries after ORPHAN_ENTRY; each reads the record of the entry it stands for.
void ntfs::addExtraNameEntries() {
    for (const ExtraName& x : extraNames_) {
        if (x.of >= slotCount_) continue;
        MftEntry a = entries[x.of];
        a.nameOffset = x.nameOffset;
        a.nameLength = x.nameLength;
        a.hasName = true;
        a.nameSpace = 0;
        a.parentIndex = x.parent;
        a.parentSequence = x.parentSequence;
        a.kind = x.kind & static_cast<std::uint8_t>(~kShownLink);
        a.allocatedSize = x.allocatedSize;
        a.aliasOf = x.of;
        a.selfIndex = entries.size();
        a.firstChild = 0;
        a.nextSibling = 0;
        a.orphan = 0;
        entries.push_back(a);
    }
    extraNames_.clear();
    ensureLinkTables();
}

// A reference's sequence number matches a record's when equal, or when the record was freed
// once since (freeing a record advances its sequence) and has not been reused.
bool ntfs::referenceMatches(std::uint16_t referenceSequence, const MftEntry& target) {
    if (referenceSequence == 0 || target.sequence == referenceSequence) return true;
    const std::uint16_t next = referenceSequence == 0xFFFF ? 1 : static_cast<std::uint16_t>(referenceSequence + 1);
    return (target.recordFlags & kRecordInUse) == 0 && target.sequence == next;
}

// The extension record that holds a base record's only name shows that file. A record whose
// name is only a DOS short name gives way to the long name an extension record holds.
void ntfs::findNameHolders() {
    nameHolder_.clear();
    for (std::uint64_t i = 0; i < slotCount_; ++i) {
        MftEntry& e = entries[i];
        if (!e.hasName || e.baseReference == 0 || e.aliasOf != MftEntry::kNoAlias) continue;
        const std::uint64_t b = baseRecordIndex(i);
        if (b == i) continue;
        MftEntry& base = entries[b];
        if (base.hasName && e.parentIndex == base.parentIndex) {
            if (e.nameSpace == kDosNamespace) {
                e.hasName = false;
                continue;
            }
            if (base.nameSpace == kDosNamespace) base.hasName = false;
        }
        if (!base.hasName) nameHolder_.emplace(b, i);
    }
}

// A deleted file whose names lived only in extension records (its writer removes the name when
// it deletes) still has its content: it is listed under ORPHAN_ENTRY by its record number.
void ntfs::nameUnnamedDeletedFiles() {
    std::size_t examined = 0;
    for (std::uint64_t i = 1; i < slotCount_ && examined < kMaxUnnamedExamined; ++i) {
        const MftEntry& e = entries[i];
        if (e.hasName || !e.hasFileSignature() || !e.hasAttributeList || e.baseReference != 0 ||
            (e.recordFlags & kRecordInUse) != 0 || nameHolder_.contains(i))
            continue;
        ++examined;
        const MftRecord* record = loadRecord(i);
        if (record == nullptr || !namesFileNameElsewhere(*record, i)) continue;
        renameEntry(i, utf8ToUtf16(formatText("MFT_RECORD_%llu", static_cast<unsigned long long>(i))));
        entries[i].kind = 0;
        entries[i].parentIndex = entries.size(); // no folder: an orphan
    }
}

// Where the children of record `parent` are shown: its own entry, or the extension entry that
// holds its name.
std::uint64_t ntfs::shownParent(std::uint64_t parent) const {
    if (parent < entries.size() && !entries[parent].hasName) {
        const auto it = nameHolder_.find(parent);
        if (it != nameHolder_.end()) return it->second;
    }
    return parent;
}

// A parent must be a named directory of the MFT; a deleted entry's parent must also still be
// the folder it lived in (the sequence numbers agree), not a later record in its slot.
bool ntfs::parentAccepts(std::uint64_t index, std::uint64_t parent) const {
    const MftEntry& e = entries[index];
    if (e.parentIndex >= slotCount_ || parent >= slotCount_) return false;
    if (!entries[parent].hasName || entries[parent].kind != kDirectoryKind) return false;
    if ((e.recordFlags & kRecordInUse) == 0 && !referenceMatches(e.parentSequence, entries[e.parentIndex]))
        return false;
    return true;
}

void ntfs::linkAllEntries() {
    ensureLinkTables();
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        if (i == orphanIndex || !entries[i].hasName) continue;
        const std::uint64_t shown = shownParent(entries[i].parentIndex);
        if (!parentAccepts(i, shown)) {
            entries[i].orphan = 1;
            continue;
        }
        entries[i].parentIndex = shown;
        linkChild(i);
    }
}

// Appends entry i at the tail of its parent's child chain. The chain's tail is remembered per
// parent, so a directory of a million files is linked in linear time; an entry already in the
// chain is not linked twice.
void ntfs::linkChild(std::uint64_t i) {
    if (i >= entries.size() || entries[i].selfIndex >= entries.size() || entries[i].selfIndex == 0)
        return;
    ensureLinkTables();
    const std::uint64_t p = entries[i].parentIndex;
    if (p >= entries.size()) return;
    const std::uint64_t f = p != 0 ? entries[p].firstChild : 0;
    if (f == 0) {
        entries[p].firstChild = i;
        chainTail_[p] = i;
        linked_[i] = 1;
        return;
    }
    if (f >= entries.size() || !entries[f].hasFileSignature()) return;
    if (entries[f].selfIndex == i || p == i) return;
    if (linked_[i]) return;
    const std::uint64_t tail = chainTail_[p] != 0 ? chainTail_[p] : f;
    if (tail == i) return;
    entries[tail].nextSibling = static_cast<std::int64_t>(i);
    chainTail_[p] = i;
    linked_[i] = 1;
}

void ntfs::ensureLinkTables() {
    if (chainTail_.size() < entries.size()) chainTail_.resize(entries.size(), 0);
    if (linked_.size() < entries.size()) linked_.resize(entries.size(), 0);
}

void ntfs::parseAllEntries() {
    forgetEntryCaches();
    chainTail_.assign(entries.size(), 0);
    linked_.assign(entries.size(), 0);
    nameHolder_.clear();
    if (!slotsParsed_) extraNames_.clear();
    if (mftRunKnown && !stopped()) {
        std::uint64_t n = entries.size();
        progress_->setRange(0, static_cast<std::int64_t>(n));
        std::vector<std::uint8_t> chunk;
        std::uint64_t i = 0;
        while (i < n) {
            if (stopped()) break;
            // Consecutive slots are read in one piece and parsed from memory (a record joined
            // from two runs is read on its own); slots parsed while the MFT was read are not
            // read again.
            std::uint64_t end = i + 1;
            while (!splitSlots_.contains(i) && end < n && !splitSlots_.contains(end) &&
                   (end - i) * recordSize < kParseChunkBytes &&
                   entries[end].recordPosition == entries[end - 1].recordPosition + recordSize)
                ++end;
            bool bulk = false;
            if (!slotsParsed_) {
                chunk.resize((end - i) * recordSize);
                bulk = end - i > 1 && readAt(entries[i].recordPosition, chunk);
            }
            for (std::uint64_t k = i; k < end; ++k) {
                if (stopped()) {
                    end = k;
                    n = k;
                    break;
                }
                if (k % kStatusEvery == 0 || k + 1 == n) {
                    setStatus(formatText("parsing MFT entry %d...", static_cast<int>(k)));
                    progress_->setPosition(static_cast<std::int64_t>(k));
                }
                if (slotsParsed_) continue;
                if (bulk)
                    parseRecordAttributes(ByteSpan(chunk).subspan((k - i) * recordSize, recordSize), k, true);
                else
                    parseEntry(entries[k].recordPosition, k);
            }
            i = end;
        }
        // A stop keeps only the entries parsed before it, even if the MFT read named more.
        if (slotsParsed_ && n < entries.size()) {
            for (std::uint64_t k = n; k < entries.size(); ++k) entries[k].hasName = false;
            std::erase_if(extraNames_, [n](const ExtraName& x) { return x.of >= n; });
        }
    }
    slotsParsed_ = false;
    slotCount_ = entries.size();
    findNameHolders();
    if (scanMode != 3) nameUnnamedDeletedFiles();
    addOrphanEntry();
    if (scanMode != 3) {
        listMftRecord();
        addExtraNameEntries();
        linkAllEntries();
    } else {
        linkDeepEntries();
    }
    findRoot();
    if (rootIndex < entries.size()) {
        MftEntry& orphanEntry = entries[orphanIndex];
        orphanEntry.parentIndex = rootIndex;
        orphanEntry.nextSibling = 0;
        orphanEntry.selfIndex = orphanIndex;
        orphanEntry.recordFlags = 1;
        // ORPHAN_ENTRY becomes the root's last child (the walk is capped: chains may loop).
        std::uint64_t c = entries[rootIndex].firstChild;
        for (std::uint64_t steps = 0; steps < entries.size() && entries[c].nextSibling > 0 &&
                                      static_cast<std::uint64_t>(entries[c].nextSibling) < entries.size();
             ++steps)
            c = static_cast<std::uint64_t>(entries[c].nextSibling);
        if (c != orphanIndex) entries[c].nextSibling = static_cast<std::int64_t>(orphanIndex);
    }
    linkOrphans();
}

void ntfs::addOrphanEntry() {
    MftEntry e;
    std::copy_n("FILE", 4, e.signature.begin());
    const std::u16string name = utf8ToUtf16(kOrphanEntryName);
    e.nameOffset = storeName(name);
    e.nameLength = static_cast<std::uint16_t>(name.size());
    e.hasName = true;
    e.kind = kDirectoryKind;
    entries.push_back(e);
    orphanIndex = entries.size() - 1;
    chainTail_.resize(entries.size(), 0);
    linked_.resize(entries.size(), 0);
}

void ntfs::findRoot() {
    rootIndex = entries.size();
    // After a deep scan: the newest copy of record 5, when it is the root.
    if (scanMode == 3) {
        const std::uint64_t root = indexOfRecordNumber(kRootRecordNumber);
        if (root < entries.size() && hasName(root) && entryName(root) == u".") {
            rootIndex = root;
            return;
        }
    }
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        if (hasName(i) && entryName(i) == u".") {
            rootIndex = i;
            return;
        }
    }
}

void ntfs::linkOrphans() {
    progress_->setRange(0, static_cast<std::int64_t>(entries.size()));
    if (orphanIndex >= entries.size()) return;
    if (scanMode == 3) {
        linkByDiskOrder();
        return;
    }
    bool first = true;
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        MftEntry& e = entries[i];
        if (e.orphan != 1 || i == orphanIndex) continue;
        MftEntry& o = entries[orphanIndex];
        if (first) {
            o.firstChild = i;
            e.parentIndex = orphanIndex;
            e.nextSibling = -1;
            first = false;
        } else {
            // Pushed at the head: the chain lists orphans newest first.
            e.nextSibling = static_cast<std::int64_t>(o.firstChild);
            o.firstChild = i;
        }
    }
}

// ---- The entry view ----

std::u16string_view ntfs::entryName(std::uint64_t index) const {
    if (index >= entries.size() || !entries[index].hasName) return {};
    const MftEntry& e = entries[index];
    if (e.nameOffset > namePool_.size() || e.nameLength > namePool_.size() - e.nameOffset) return {};
    return std::u16string_view(namePool_).substr(static_cast<std::size_t>(e.nameOffset), e.nameLength);
}

bool ntfs::renameEntry(std::uint64_t index, std::u16string_view name) {
    if (index >= entries.size()) return false;
    // A name longer than a $FILE_NAME can hold is cut, as the record could never carry it.
    if (name.size() > 0xFFFF) name = name.substr(0, 0xFFFF);
    MftEntry& e = entries[index];
    e.nameOffset = storeName(name);
    e.nameLength = static_cast<std::uint16_t>(name.size());
    e.hasName = true;
    return true;
}

std::string ntfs::entryLabel(std::uint64_t index) const { return utf16ToUtf8(entryName(index)); }

bool ntfs::hasName(std::uint64_t index) const {
    return index < entries.size() && entries[index].hasName;
}

bool ntfs::isDirectory(std::uint64_t index) const {
    return index < entries.size() && entries[index].kind == kDirectoryKind;
}

bool ntfs::isInUse(std::uint64_t index) const {
    return index < entries.size() && (entries[index].recordFlags & kRecordInUse) != 0;
}

bool ntfs::hasChildren(std::uint64_t index) const {
    return index < entries.size() && entries[index].firstChild > 0 &&
           entries[index].firstChild < entries.size();
}

std::vector<std::uint64_t> ntfs::childrenOf(std::uint64_t index) const {
    std::vector<std::uint64_t> out;
    if (!hasChildren(index)) return out;
    std::vector<bool> seen(entries.size(), false);
    std::uint64_t c = entries[index].firstChild;
    while (c > 0 && c < entries.size() && !seen[c]) {
        seen[c] = true;
        out.push_back(c);
        const std::int64_t next = entries[c].nextSibling;
        if (next <= 0) break;
        c = static_cast<std::uint64_t>(next);
    }
    return out;
}

EntryDescription ntfs::describeEntry(std::uint64_t index) {
    // The page asks for the texts and the times of one entry one after another.
    if (lastDescribed_ && lastDescribed_->first == index) return lastDescribed_->second;
    EntryDescription d = describeRecord(index);
    lastDescribed_.emplace(index, d);
    return d;
}

// The local-time text of a file time, converted once per minute met.
const std::string& ntfs::timeText(std::uint64_t filetime) {
    const std::uint64_t minute = filetime / kTicksPerMinute;
    const auto it = minuteTexts_.find(minute);
    if (it != minuteTexts_.end()) return it->second;
    if (minuteTexts_.size() >= kMaxCachedMinutes) minuteTexts_.clear();
    const auto local = filetimeToLocal(filetime);
    return minuteTexts_.emplace(minute, local ? formatDateTimeText(*local) : std::string()).first->second;
}

EntryDescription ntfs::describeRecord(std::uint64_t index) {
    EntryDescription d;
    const MftRecord* record = loadRecord(baseRecordIndex(index));
    if (record != nullptr) {
        const ByteSpan fixed = record->fixed();
        for (const AttributeHeader& h : record->attributes()) {
            if (h.nonResident) continue;
            const ByteSpan c = MftRecord::residentContent(fixed, h);
            if (h.type == kAttrStandardInformation) {
                d.hasTimes = true;
                d.creationTime = le64(c, kStdCreationTime);
                d.modificationTime = le64(c, kStdModificationTime);
                d.accessTime = le64(c, kStdAccessTime);
            } else if (h.type == kAttrFileName) {
                const std::uint16_t flags = static_cast<std::uint16_t>(le32(c, kFileNameFlags));
                std::string text;
                if (flags & 0x0001) text += "-R";
                if (flags & 0x0002) text += "-H";
                if (flags & 0x0200) text += "-S";
                if (flags & 0x0020) text += "-A";
                if (flags & 0x0800) text += "-C";
                if (flags & 0x4000) text += "-E";
                d.attributeText = text;
            }
        }
    }
    d.creationText = timeText(d.creationTime);
    d.accessText = timeText(d.accessTime);
    d.modificationText = timeText(d.modificationTime);
    d.creationUnix = filetimeToUnix(d.creationTime);
    d.modificationUnix = filetimeToUnix(d.modificationTime);
    d.accessUnix = filetimeToUnix(d.accessTime);
    return d;
}

} // namespace vindaru
