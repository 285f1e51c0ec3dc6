// A signature record from the texts the signature editor's fields hold, and the append of one
// record to a settings file. The editor page and `vindaru-cli signatures add` both use these
// rules, and the default settings are written through them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Sinks.h"
#include "raw/signatureRecord.h"

namespace vindaru {

// What the editor's Save says when no usable file is chosen, and after a record is written.
inline constexpr const char* kSignatureNoFile = "Select valid file to save the entries.";
inline constexpr const char* kSignatureSaved = "everything initialized well.....";

// The editor's texts, as typed.
struct SignatureFields {
    std::string extension;
    std::string startSignature; // "0x89,0x50,0x4E,0x47" or "89,50,4E,47"
    std::string startOffset;
    std::string endSignature;
    std::string sizeOffset;
    std::string bytesInSize;
    bool sizeIncludesHeader = false;
    std::string headerSize;
    std::string skipSize;
    std::string approximateSize;
    std::string category;
};

// Comma-separated hexadecimal bytes: empty pieces skipped, "0x" optional, the low byte of each
// number kept, at most ten pieces used.
std::vector<std::uint8_t> parseSignatureBytes(const std::string& text);
// A decimal number as the editor's number fields read it: leading blanks, an optional sign,
// the digits that follow; anything else reads as 0.
std::int64_t parseFieldNumber(const std::string& text);

// The record the editor's Save writes, with `recordIndex`; nullopt with the editor's message in
// `error` when the extension or the start signature is empty.
std::optional<signatureRecord> buildSignatureRecord(const SignatureFields& fields,
                                                    std::uint8_t recordIndex, std::string& error);

// Appends `record` (its index set from the file's length) to the settings file at `path`,
// creating it when missing. False with a message in `error`.
bool appendSignatureRecord(const std::string& path, const SignatureFields& fields,
                           std::string& error);
// The same, saying what happened as the editor's Save does: the error, or kSignatureSaved.
bool appendSignatureRecord(const std::string& path, const SignatureFields& fields,
                           MessageSink& messages);

} // namespace vindaru
