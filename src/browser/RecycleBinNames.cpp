#include "browser/RecycleBinNames.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/ByteLoader.h"
#include "common/TextConvert.h"

namespace vindaru {

namespace {

constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kPathOffsetV1 = 24;
constexpr std::size_t kPathOffsetV2 = 28; // after the 4-byte path length
constexpr std::uint64_t kLayoutV2 = 2;

// A private folder under the temporary folder for the index copies, removed with everything
// in it when the step ends, however it ends.
class PrivateTempFolder {
public:
    PrivateTempFolder() {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "vindaru-recycle-XXXXXX").string();
        if (!ec && mkdtemp(pattern.data())) path_ = pattern;
    }
    ~PrivateTempFolder() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    PrivateTempFolder(const PrivateTempFolder&) = delete;
    PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string trimTrailingSpace(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

} // namespace

std::optional<std::string> recycleIndexFormerName(std::span<const std::uint8_t> content) {
    const std::size_t at = le64(content, kVersionOffset) == kLayoutV2 ? kPathOffsetV2 : kPathOffsetV1;
    if (content.size() <= at) return std::nullopt;
    std::string path = utf16leToUtf8(content.subspan(at), true);
    const auto slash = path.rfind('\\');
    if (slash != std::string::npos) path = path.substr(slash + 1);
    return path;
}

std::optional<std::string> RecycleBinNames::readIndexFile(EntryRef entry, const std::string& tempFolder) {
    // Index files go through the parser's own save path, as any saved file does.
    const std::string copy = tempFolder + "/index.copy";
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) return std::nullopt;
    view_.writeContent(entry, out);
    ::close(out);

    std::optional<std::string> name;
    const int in = ::open(copy.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in >= 0) {
        struct stat st {};
        if (fstat(in, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < kRecycleIndexLimit) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
            std::size_t got = 0;
            while (got < bytes.size()) {
                const ssize_t n = ::read(in, bytes.data() + got, bytes.size() - got);
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            bytes.resize(got);
            name = recycleIndexFormerName(bytes);
        }
        ::close(in);
    }
    ::unlink(copy.c_str());
    return name;
}

std::map<std::string, std::string> RecycleBinNames::buildMap(EntryRef folder, const std::string& tempFolder) {
    std::map<std::string, std::string> names;
    for (EntryRef child : view_.children(folder)) {
        const std::string name = view_.label(child);
        if (name.rfind("$I", 0) != 0 || view_.isDirectory(child)) continue;
        if (auto former = readIndexFile(child, tempFolder)) names[name] = *former;
    }
    return names;
}

std::uint64_t RecycleBinNames::renameWithin(EntryRef folder,
                                            const std::map<std::string, std::string>& names) {
    std::uint64_t renamed = 0;
    const std::vector<EntryRef> children = view_.children(folder);
    for (const auto& [indexName, former] : names) {
        const std::string dataName = "$R" + indexName.substr(2);
        for (EntryRef child : children) {
            std::string name = view_.label(child);
            if (layout_ == Layout::Flat) name = trimTrailingSpace(name);
            if (!name.empty() && name == dataName && view_.rename(child, former)) ++renamed;
        }
    }
    return renamed;
}

std::uint64_t RecycleBinNames::restore() {
    PrivateTempFolder temp;
    if (temp.path().empty()) return 0;
    std::uint64_t renamed = 0;
    for (TreeItemId item : tree_.children(volumeItem_)) {
        const std::string label = tree_.label(item);
        if (label != "$RECYCLE.BIN" && label != "$RECYCLEBIN") continue;
        const auto bin = tree_.getItemData(item);
        if (!bin || !view_.isEntry(*bin) || !view_.isDirectory(*bin)) continue;
        if (layout_ == Layout::Flat) {
            renamed += renameWithin(*bin, buildMap(*bin, temp.path()));
            continue;
        }
        for (EntryRef user : view_.children(*bin)) {
            if (!view_.isDirectory(user) || user == *bin) continue;
            renamed += renameWithin(user, buildMap(user, temp.path()));
        }
    }
    return renamed;
}

} // namespace vindaru
