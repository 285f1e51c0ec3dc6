#include "raw/SignatureFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vindaru {

namespace {

// Reads exactly `out.size()` bytes at `offset`; false on a short read.
bool readFully(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// How many records to take from a file of `length` bytes whose last record is `last`; 0 when
// the file is refused.
std::size_t recordsToTake(std::uint64_t length, const signatureRecord& last) {
    const std::uint64_t whole = length / kSignatureRecordBytes;
    // A foreign file may claim more records than it holds: take those it has.
    return static_cast<std::size_t>(std::min<std::uint64_t>(whole, std::uint64_t{last.recordIndex} + 1));
}

bool lastRecordAcceptable(const signatureRecord& last, bool checkBytesInSize) {
    return !(checkBytesInSize && last.bytesInSize > kMaxBytesInSize);
}

bool lengthAcceptable(std::uint64_t length) {
    const std::uint64_t whole = length / kSignatureRecordBytes;
    return whole > 0 && (whole - 1) * kSignatureRecordBytes <= kMaxLastRecordStart;
}

} // namespace

SignatureFileResult parseSignatureFile(std::span<const std::uint8_t> bytes, bool checkBytesInSize,
                                       std::vector<signatureRecord>& out) {
    out.clear();
    const std::uint64_t length = bytes.size();
    if (!lengthAcceptable(length)) return SignatureFileResult::Invalid;
    const std::uint64_t lastStart = (length / kSignatureRecordBytes - 1) * kSignatureRecordBytes;
    const auto last = signatureRecord::decode(bytes.subspan(static_cast<std::size_t>(lastStart)));
    if (!last || !lastRecordAcceptable(*last, checkBytesInSize))
        return SignatureFileResult::Invalid;
    const std::size_t take = recordsToTake(length, *last);
    for (std::size_t i = 0; i < take; ++i)
        out.push_back(*signatureRecord::decode(bytes.subspan(i * kSignatureRecordBytes)));
    return SignatureFileResult::Loaded;
}

SignatureFileResult readSignatureFile(const std::string& path, bool checkBytesInSize,
                                      std::vector<signatureRecord>& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SignatureFileResult::NotOpened;
    struct stat st {};
    SignatureFileResult result = SignatureFileResult::Invalid;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        lengthAcceptable(static_cast<std::uint64_t>(st.st_size))) {
        // Only the records the loader takes are read, never the whole of a large file.
        const auto length = static_cast<std::uint64_t>(st.st_size);
        const std::uint64_t lastStart = (length / kSignatureRecordBytes - 1) * kSignatureRecordBytes;
        signatureRecord::Bytes lastBytes{};
        if (readFully(fd, lastStart, lastBytes)) {
            const signatureRecord last = *signatureRecord::decode(lastBytes);
            if (lastRecordAcceptable(last, checkBytesInSize)) {
                std::vector<std::uint8_t> records(recordsToTake(length, last) * kSignatureRecordBytes);
                if (readFully(fd, 0, records)) {
                    for (std::size_t at = 0; at < records.size(); at += kSignatureRecordBytes)
                        out.push_back(*signatureRecord::decode(std::span(records).subspan(at)));
                    result = SignatureFileResult::Loaded;
                }
            }
        }
    } else if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        result = SignatureFileResult::NotOpened;
    }
    ::close(fd);
    return result;
}

} // namespace vindaru
