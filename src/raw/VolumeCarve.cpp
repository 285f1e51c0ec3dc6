#include "raw/VolumeCarve.h"

#include <algorithm>

#include "image/readWriteInterface.h"
#include "raw/FindSaver.h"
#include "raw/SignatureFile.h"

namespace vindaru {

namespace {
constexpr const char* kLoading = "Processing.....";
constexpr const char* kReadingAllocationMap = "Reading the allocation map of the volume...";
} // namespace

VolumeCarve::VolumeCarve(Session& session, VolumeRecord volume, CheckTree& tree, CarveSinks sinks)
    : session_(session), volume_(std::move(volume)), tree_(tree), sinks_(sinks) {}

std::uint64_t VolumeCarve::volumeBytes() const {
    // A volume of no sectors is the described zero-size volume.
    if (!session_.sessionReader) return volume_.byteLength();
    return std::min(volume_.byteLength(), volumeSlice(*session_.sessionReader, volume_).size());
}

void VolumeCarve::loadDefaultSignatures(const std::string& path) {
    engine_ = std::make_shared<myJpg>();
    sinks_.status.setText(kLoading);
    std::vector<signatureRecord> records;
    switch (readSignatureFile(path, false, records)) {
    case SignatureFileResult::NotOpened:
        return; // no default set: nothing to say
    case SignatureFileResult::Invalid:
        sinks_.messages.info(kSignatureFileInvalid);
        return;
    case SignatureFileResult::Loaded:
        break;
    }
    for (const signatureRecord& r : records) engine_->addSignature(r);
}

bool VolumeCarve::loadSignatureFile(const std::string& path) {
    if (!engine_) engine_ = std::make_shared<myJpg>();
    sinks_.status.setText(kLoading);
    std::vector<signatureRecord> records;
    switch (readSignatureFile(path, true, records)) {
    case SignatureFileResult::NotOpened:
        sinks_.messages.info(kSignatureFileNotOpened);
        return false;
    case SignatureFileResult::Invalid:
        sinks_.messages.info(kSignatureFileInvalid);
        return false;
    case SignatureFileResult::Loaded:
        break;
    }
    for (const signatureRecord& r : records) engine_->addSignature(r);
    return true;
}

VolumeCarve::Prepared VolumeCarve::prepare() {
    const auto fail = [&](Prepared why) {
        sinks_.status.setText(kCarveProcessingDone);
        return why;
    };
    if (!engine_) engine_ = std::make_shared<myJpg>();
    const std::uint64_t bytes = volumeBytes();
    if (bytes == 0) {
        sinks_.messages.infoNoCaption("zero size volume..");
        return fail(Prepared::ZeroSize);
    }
    if (session_.imageSourcePage == kImageSourceRecorded && reopenReader && !reopenReader(session_))
        return fail(Prepared::NoReader);
    if (!session_.sessionReader) return fail(Prepared::NoReader);
    // Carving positions count from the volume's first byte.
    slice_ = volumeSlice(*session_.sessionReader, volume_);
    // A Stop of the engine's previous run must not end this one.
    engine_->control().stopRequested.reset();
    engine_->control().pauseGate.resume();
    engine_->attach(&*slice_, bytes, &tree_, &sinks_.progress, &sinks_.messages);
    return Prepared::Ready;
}

VolumeCarve::Carve VolumeCarve::carve() {
    std::shared_ptr<myJpg> engine = engine_;
    UsedRanges used;
    if (usedSpace) {
        sinks_.status.setText(kReadingAllocationMap);
        UsedSpace space = usedSpace(*session_.sessionReader, volume_);
        if (!space.ranges) {
            if (onCarveEnd) onCarveEnd(Carve::FreeSpaceUnknown);
            sinks_.messages.info(space.message);
            sinks_.status.setText(kCarveProcessingDone);
            return Carve::FreeSpaceUnknown;
        }
        used = std::move(*space.ranges);
    }
    // An engine kept from an earlier carve covers the whole volume unless told otherwise.
    engine->setUsedRanges(std::move(used));
    const Carve outcome = engine->carveVolume() ? Carve::Carved : Carve::EngineFailed;
    if (onCarveEnd) onCarveEnd(outcome);
    sinks_.status.setText(kCarveProcessingDone);
    return outcome;
}

std::uint64_t VolumeCarve::bytesOf(const std::vector<Find>& finds) {
    std::uint64_t total = 0;
    for (const Find& f : finds) total += f.find.size;
    return total;
}

VolumeCarve::SaveResult VolumeCarve::save(const std::filesystem::path& folder,
                                          const std::vector<Find>& finds) const {
    SaveResult result;
    std::optional<FindSaver> saver = FindSaver::open(folder);
    if (!saver || !session_.sessionReader) return result;
    result.folderOpened = true;
    const VolumeSlice reader = volumeSlice(*session_.sessionReader, volume_);
    for (const Find& f : finds) {
        const std::string base = FindSaver::baseName(f.find.namedAfter, f.engine->extensionOf(f.find));
        const std::string name = saver->save(reader, f.find.start, f.find.size, base);
        if (name.empty()) ++result.failed;
        result.names.push_back(name);
    }
    return result;
}

} // namespace vindaru
