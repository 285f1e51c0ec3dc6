// Reading a signature settings file: the records it holds, within the limits every loader
// applies (at least one whole record, the last starting no later than 1 MiB, the last record's
// index byte saying how many to take).
#pragma once

#include <string>
#include <vector>

#include "raw/signatureRecord.h"

namespace vindaru {

// The last record may start no later than this byte: about 6,000 records at most.
inline constexpr std::uint64_t kMaxLastRecordStart = 1u << 20;
// A size field is at most a 64-bit number.
inline constexpr std::int32_t kMaxBytesInSize = 8;

inline constexpr const char* kSignatureFileInvalid = "Please select a valid file..";
inline constexpr const char* kSignatureFileNotOpened = "Cannot open the selected file";

enum class SignatureFileResult { Loaded, NotOpened, Invalid };

// Records 0 .. N of the file, N being the last record's index byte (fewer when the file holds
// fewer). `checkBytesInSize` also refuses a file whose last record's bytes-in-size is above 8.
SignatureFileResult readSignatureFile(const std::string& path, bool checkBytesInSize,
                                      std::vector<signatureRecord>& out);

// The same rules over bytes already in memory (the fuzz target, `signatures list`).
SignatureFileResult parseSignatureFile(std::span<const std::uint8_t> bytes, bool checkBytesInSize,
                                       std::vector<signatureRecord>& out);

} // namespace vindaru
