#include "image/FileReadSeekVmdk.h"

namespace vindaru {

FileReadSeekVmdk::FileReadSeekVmdk(Session& session) : session_(session) {}
FileReadSeekVmdk::~FileReadSeekVmdk() = default;
bool FileReadSeekVmdk::open(const std::string&) { return false; }
bool FileReadSeekVmdk::read(void*, std::uint64_t) { return false; }
bool FileReadSeekVmdk::seek(std::int64_t, int) { return false; }
bool FileReadSeekVmdk::readAt(std::uint64_t, std::span<std::uint8_t>) { return false; }
std::uint64_t FileReadSeekVmdk::capacitySectors() const { return 0; }
bool FileReadSeekVmdk::readAtFilePointer(std::uint8_t*, std::uint64_t) { return false; }
bool FileReadSeekVmdk::mapsPositions() const { return false; }
bool FileReadSeekVmdk::readSectorsFromCursor(std::uint8_t*, std::uint64_t, bool) { return false; }

} // namespace vindaru
