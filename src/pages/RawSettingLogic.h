// The signature editor without its window: the field texts become one signatureRecord, appended
// to the settings file the user chose (raw/SignatureFields, whose rules `vindaru-cli signatures
// add` uses too).
#pragma once

#include <string>
#include <vector>

#include "common/Sinks.h"
#include "raw/SignatureFields.h"

namespace vindaru {

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
