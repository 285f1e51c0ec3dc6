// vindaru-cli signatures: the signature settings files of raw recovery. `list` shows the records
// a loader would take; `add` appends one record as the signature editor's Save does.
#include <cstdio>
#include <iostream>

#include "cli/ArgParser.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliSinks.h"
#include "raw/SignatureFields.h"
#include "raw/SignatureFile.h"

namespace vindaru::cli {

namespace {

constexpr int kExitSignatures = 5;
constexpr const char* kListUsage = "vindaru-cli signatures list FILE [--json]";
constexpr const char* kAddUsage =
    "vindaru-cli signatures add FILE --ext E --start HEX,... [--start-offset N] [--end HEX,...] "
    "[--size-offset N --size-bytes N] [--header-size N] [--size-includes-header] [--skip N] "
    "[--approx N] [--category TEXT]";

std::string hexList(const std::array<std::uint8_t, kSignatureBytes>& bytes, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n && i < bytes.size(); ++i) {
        char piece[8];
        std::snprintf(piece, sizeof piece, "%s0x%02X", i ? "," : "", bytes[i]);
        out += piece;
    }
    return out;
}

int runList(const std::vector<std::string>& args) {
    ArgParser parser(kListUsage);
    std::string path;
    bool json = false;
    parser.positional("FILE", path).flag("--json", json);
    if (!parser.parse(args)) return parser.exitCode();
    std::vector<signatureRecord> records;
    CliMessageSink messages;
    switch (readSignatureFile(path, true, records)) {
    case SignatureFileResult::NotOpened:
        messages.info(kSignatureFileNotOpened);
        return kExitSignatures;
    case SignatureFileResult::Invalid:
        messages.info(kSignatureFileInvalid);
        return kExitSignatures;
    case SignatureFileResult::Loaded:
        break;
    }
    if (json) std::cout << "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const signatureRecord& r = records[i];
        const std::string start = hexList(r.startBytes, r.startLength);
        const std::string end = hexList(r.endBytes, r.endLength);
        if (json) {
            std::cout << (i ? ",\n " : "\n ") << "{\"index\": " << int(r.recordIndex)
                      << ", \"extension\": " << jsonString(r.extensionText())
                      << ", \"start\": " << jsonString(start) << ", \"startOffset\": " << r.startOffset
                      << ", \"end\": " << jsonString(end) << ", \"sizeOffset\": " << r.sizeOffset
                      << ", \"sizeBytes\": " << r.bytesInSize << ", \"headerSize\": " << r.headerSize
                      << ", \"sizeIncludesHeader\": " << (r.sizeIncludesHeader ? "true" : "false")
                      << ", \"approx\": " << r.approximateSize << ", \"skip\": " << r.skipSize
                      << ", \"category\": " << jsonString(r.categoryText()) << "}";
        } else {
            std::cout << int(r.recordIndex) << "\t" << r.extensionText() << "\tstart " << start
                      << " @" << r.startOffset << "\tend " << (end.empty() ? "-" : end)
                      << "\tsize " << r.sizeOffset << "/" << r.bytesInSize << " header "
                      << r.headerSize << (r.sizeIncludesHeader ? " included" : "")
                      << "\tapprox " << r.approximateSize << "\tskip " << r.skipSize << "\t"
                      << r.categoryText() << "\n";
        }
    }
    if (json) std::cout << (records.empty() ? "]\n" : "\n]\n");
    return kExitOk;
}

int runAdd(const std::vector<std::string>& args) {
    ArgParser parser(kAddUsage);
    std::string path;
    SignatureFields f;
    parser.positional("FILE", path)
        .option("--ext", f.extension)
        .option("--start", f.startSignature)
        .option("--start-offset", f.startOffset)
        .option("--end", f.endSignature)
        .option("--size-offset", f.sizeOffset)
        .option("--size-bytes", f.bytesInSize)
        .option("--header-size", f.headerSize)
        .flag("--size-includes-header", f.sizeIncludesHeader)
        .option("--skip", f.skipSize)
        .option("--approx", f.approximateSize)
        .option("--category", f.category);
    if (!parser.parse(args)) return parser.exitCode();
    CliMessageSink messages;
    return appendSignatureRecord(path, f, messages) ? kExitOk : kExitSignatures;
}

int runSignatures(const std::vector<std::string>& args) {
    const std::vector<std::string> rest(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
    if (!args.empty() && args[0] == "list") return runList(rest);
    if (!args.empty() && args[0] == "add") return runAdd(rest);
    ArgParser parser(std::string(kListUsage) + "\n       " + kAddUsage);
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << "usage: " << parser.usage() << "\n";
        return kExitOk;
    }
    return parser.usageError(args.empty() ? "signatures needs list or add" : "unknown signatures command '" + args[0] + "'");
}

const CommandRegistrar registrar(CliCommand{
    "signatures",
    "signatures list FILE | signatures add FILE --ext E --start HEX,... [...]   read or extend a "
    "signature settings file as the signature editor does",
    runSignatures});

} // namespace

} // namespace vindaru::cli
