#include "image/readWriteInterface.h"

#include <algorithm>

namespace vindaru {

bool readWriteInterface::readFromParent(std::uint64_t offset, std::span<std::uint8_t> out,
                                        ReadReport* report) const {
    if (out.empty()) return true;
    if (!parent_) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (!parentLink()) {
            if (report) report->addHole(offset, out.size());
            return true;
        }
        if (report) report->addUnreadable(offset, out.size(), Damage::MissingParent);
        return false;
    }
    // A parent smaller than its child (a disk grown after the snapshot) ends in zeros.
    const std::uint64_t parentSize = parent_->size();
    const std::uint64_t inside = offset < parentSize ? std::min<std::uint64_t>(out.size(), parentSize - offset) : 0;
    bool ok = true;
    if (inside > 0) ok = parent_->readAt(offset, out.first(static_cast<std::size_t>(inside)), report);
    if (inside < out.size()) {
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(inside), out.end(), std::uint8_t{0});
        if (report) report->addHole(offset + inside, out.size() - inside);
    }
    return ok;
}

} // namespace vindaru
