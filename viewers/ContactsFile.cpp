#include "viewers/ContactsFile.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unistd.h>

#include "common/CLog.h"
#include "common/LogText.h"
#include "common/ProcessClock.h"
#include "platform/paths/ProgramFolder.h"
#include "viewers/CContact.h"
#include "viewers/CContactList.h"

namespace halvora {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

ContactReader::ContactReader(std::FILE* file) : file_(file), remaining_(0) {
    const long here = std::ftell(file);
    if (here >= 0 && std::fseek(file, 0, SEEK_END) == 0) {
        const long end = std::ftell(file);
        std::fseek(file, here, SEEK_SET);
        remaining_ = end > here ? end - here : 0;
    }
}

bool ContactReader::ReadInt32(std::int32_t& value) {
    std::uint8_t bytes[4];
    if (remaining_ < 4 || std::fread(bytes, 1, 4, file_) != 4) {
        remaining_ = 0;
        return false;
    }
    remaining_ -= 4;
    value = static_cast<std::int32_t>(GetLe32(bytes));
    return true;
}

std::int32_t ContactReader::ReadCount() {
    std::int32_t count = 0;
    return ReadInt32(count) ? count : 0;
}

std::string ContactReader::ReadText() {
    std::int32_t length = 0;
    if (!ReadInt32(length)) {
        return {};  // the file ended: the field reads as empty
    }
    if (length < 0) {
        throw ContactsFileError("negative field length " + std::to_string(length));
    }
    if (length > remaining_) {
        throw ContactsFileError("field length " + std::to_string(length) + " beyond the end of the file");
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    if (length > 0 && std::fread(text.data(), 1, text.size(), file_) != text.size()) {
        throw ContactsFileError("read error");
    }
    remaining_ -= length;
    // A stored text ends at its first zero byte.
    const auto zero = text.find('\0');
    if (zero != std::string::npos) {
        text.resize(zero);
    }
    return text;
}

void ContactWriter::WriteCount(std::int32_t count) {
    std::uint8_t bytes[4];
    PutLe32(bytes, static_cast<std::uint32_t>(count));
    std::fwrite(bytes, 1, 4, file_);
}

void ContactWriter::WriteText(const std::string& text) {
    std::uint8_t bytes[4];
    PutLe32(bytes, static_cast<std::uint32_t>(text.size()));
    std::fwrite(bytes, 1, 4, file_);
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), file_);
    }
}

std::filesystem::path ContactsFilePath() { return ProgramFolder() / "contacts.tbl"; }

void LoadContacts(CContactList& contacts, const std::filesystem::path& file) {
    std::lock_guard guard(contacts);
    FilePtr in(std::fopen(file.c_str(), "rb"));
    if (!in) {
        return;
    }
    try {
        ContactReader reader(in.get());
        const std::int32_t count = reader.ReadCount();
        for (std::int32_t i = 0; i < count; ++i) {
            contacts.Adopt(std::make_unique<CContact>(reader));
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogLoadContacts, e.what());
    }
}

void SaveContacts(CContactList& contacts, const std::filesystem::path& file) {
    std::lock_guard guard(contacts);
    std::filesystem::path temp = file;
    temp += ".tmp";
    FilePtr out(std::fopen(temp.c_str(), "wb"));
    if (!out) {
        return;
    }
    try {
        ContactWriter writer(out.get());
        const int count = contacts.Count();
        writer.WriteCount(count);
        for (int i = 0; i < count; ++i) {
            contacts.Items(i)->SaveToFile(writer);
        }
        const bool write_failed = std::fflush(out.get()) != 0 || std::ferror(out.get()) != 0;
        const int write_errno = errno;
        if (!write_failed) {
            ::fsync(fileno(out.get()));
        }
        if (std::fclose(out.release()) != 0 || write_failed) {
            std::remove(temp.c_str());
            LogError(logtext::kLogSaveContacts, std::strerror(write_failed ? write_errno : errno));
            return;
        }
        std::error_code ec;
        std::filesystem::rename(temp, file, ec);
        if (ec) {
            std::remove(temp.c_str());
            LogError(logtext::kLogSaveContacts, ec.message());
        }
    } catch (const std::exception& e) {
        out.reset();
        std::remove(temp.c_str());
        LogError(logtext::kLogSaveContacts, e.what());
    }
}

}  // namespace halvora
