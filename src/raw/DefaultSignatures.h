// The signatures of the default "FileSetting.txt" shipped beside the program, as the editor's
// fields would hold them, and the writer that builds the file from them.
#pragma once

#include <string>
#include <vector>

#include "raw/SignatureFields.h"

namespace vindaru {

inline constexpr const char* kDefaultSignatureFileName = "FileSetting.txt";

const std::vector<SignatureFields>& defaultSignatureFields();
// The records of the default file, indexes 0, 1, 2, ... as the editor numbers them.
std::vector<signatureRecord> defaultSignatureRecords();
// Writes the default file (replacing `path`); false when it cannot be written.
bool writeDefaultSignatureFile(const std::string& path);

// "FileSetting.txt" in the folder of the running program.
std::string defaultSignaturePath();

} // namespace vindaru
