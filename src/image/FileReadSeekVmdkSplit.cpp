#include "image/FileReadSeekVmdkSplit.h"

namespace vindaru {

FileReadSeekVmdkSplit::FileReadSeekVmdkSplit(Session& session) : session_(session) {}
FileReadSeekVmdkSplit::~FileReadSeekVmdkSplit() = default;
bool FileReadSeekVmdkSplit::open(const std::string&) { return false; }
bool FileReadSeekVmdkSplit::read(void*, std::uint64_t) { return false; }
bool FileReadSeekVmdkSplit::seek(std::int64_t, int) { return false; }
bool FileReadSeekVmdkSplit::readAt(std::uint64_t, std::span<std::uint8_t>) { return false; }
std::uint64_t FileReadSeekVmdkSplit::coveredSectors() const { return 0; }

} // namespace vindaru
