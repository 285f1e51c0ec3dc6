// The signature editor without its window: the field texts become one signatureRecord, appended
// to the settings file the user chose. The CLI's `signatures add` uses the same rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Sinks.h"
#include "raw/signatureRecord.h"

namespace vindaru {

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

class RawSettingLogic {
public:
    explicit RawSettingLogic(MessageSink& messages) : messages_(messages) {}

    // The help texts of the fields, in the order of SignatureFields.
    static const std::vector<std::string>& helpTexts();

    // "...": the chosen file is created empty (an existing one loses its records), or, with
    // `keepRecords`, opened so that Save adds after the records it holds. False (after "file
    // can not be created") when it cannot be.
    bool chooseFile(const std::string& path, bool keepRecords = false);
    const std::string& filePath() const { return path_; }

    // "Save": one record appended; false after the message that says why not.
    bool save(const SignatureFields& fields);

private:
    MessageSink& messages_;
    std::string path_;
};

} // namespace vindaru
