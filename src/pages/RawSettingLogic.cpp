#include "pages/RawSettingLogic.h"

#include <fcntl.h>
#include <unistd.h>

#include "raw/SignatureFields.h"

namespace vindaru {

namespace {

constexpr const char* kCannotCreate = "file can not be created";

} // namespace

const std::vector<std::string>& RawSettingLogic::helpTexts() {
    static const std::vector<std::string> texts = {
        "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before "
        "extention(i.e .mp3)",
        "here enter the file signature that happens to be in the starting of the file.\n example "
        "0x89,0x50,0x4E,0x47  for png File",
        "Here enter offset of starting signature in File.Value should be less than 512.By default "
        "its zero.",
        "here enter the file signature that happens to be in the end of the file.\n Example "
        "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can "
        "leave it if you dont know .",
        "if  the size of file is given in the header and you know its offset please enter that "
        "offset here.\n its optional Field .you can leave it if you don't know.",
        "if  you know how many bytes represents size please enter that number of bytes  here.\n "
        "its optional Field .you can leave it ifyou  don't know.",
        "check this checkbox if the size alkso includes the header size else leave it.\n its "
        "optional Field .you can leave it if you don't know.",
        "please enter the header size in bytes here.\n its optional Field .you can leave it if "
        "you don't know.",
        "when we find the file signature you mentioned  above we can skip further file scanning "
        "by an amount you enter here.\n For example mp3 are generally greater then 2 mb .so you "
        "can enter 2097152 bytes here.\n its optional Field .you can leave it .",
        "Enter approx file size here.\n its optional Field .you can leave it if you don't know.",
        "Enter the name of category you want to put these files under",
    };
    return texts;
}

bool RawSettingLogic::chooseFile(const std::string& path, bool keepRecords) {
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | (keepRecords ? 0 : O_TRUNC) | O_CLOEXEC, 0644);
    if (fd < 0) {
        path_.clear();
        messages_.show(Message{kCannotCreate, false, MessageIcon::None, MessageButtons::Ok});
        return false;
    }
    ::close(fd);
    path_ = path;
    return true;
}

bool RawSettingLogic::save(const SignatureFields& fields) {
    if (path_.empty()) {
        messages_.info(kSignatureNoFile);
        return false;
    }
    return appendSignatureRecord(path_, fields, messages_);
}

} // namespace vindaru
