#include "platform/registry/RegistryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <utility>

#include "platform/registry/RegistryDocument.h"
#include "platform/settings/WholeFile.h"

namespace halvora {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    // No HOME (a service, a stripped environment): ask the user database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return std::filesystem::current_path();
}

// A flock held on the lock file beside the registry file, for the lifetime of
// the object. flock locks belong to the open file description, so two threads
// of one process exclude each other as two processes do.
class FileLock {
public:
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the lock
        }
    }

    // Exclusive: throws RegistryError when the lock file cannot be made or locked.
    static FileLock Exclusive(const std::filesystem::path& lock_file, const std::filesystem::path& reg_file) {
        FileLock lock(::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
        if (lock.fd_ < 0) {
            throw RegistryError(FileErrorText(reg_file, "cannot open the lock file " + lock_file.string(), LastError()));
        }
        if (auto ec = lock.Take(LOCK_EX)) {
            throw RegistryError(FileErrorText(reg_file, "cannot lock " + lock_file.string(), ec));
        }
        return lock;
    }

    // Shared, best effort: a writer replaces the file by rename, so a reader
    // that cannot lock (a read-only folder) still sees a whole file.
    static FileLock Shared(const std::filesystem::path& lock_file) {
        int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0) {
            fd = ::open(lock_file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        }
        FileLock lock(fd);
        if (lock.fd_ >= 0) {
            lock.Take(LOCK_SH);
        }
        return lock;
    }

    FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

private:
    explicit FileLock(int fd) : fd_(fd) {}

    std::error_code Take(int operation) {
        while (::flock(fd_, operation) != 0) {
            if (errno != EINTR) {
                return LastError();
            }
        }
        return {};
    }

    int fd_;
};

std::filesystem::path LockFileOf(const std::filesystem::path& file) {
    std::filesystem::path lock = file;
    lock += ".lock";
    return lock;
}

enum class ReadState { Missing, Ok, Damaged, Unreadable };

struct Loaded {
    ReadState state = ReadState::Missing;
    RegistryDocument doc;
    std::error_code error;  // ReadState::Unreadable
};

Loaded Load(const std::filesystem::path& file) {
    Loaded loaded;
    std::string text;
    const std::error_code ec = ReadWholeFile(file, RegistryStore::kMaxFileBytes, text);
    if (ec == std::errc::no_such_file_or_directory) {
        loaded.state = ReadState::Missing;
    } else if (ec == std::errc::file_too_large) {
        loaded.state = ReadState::Damaged;
    } else if (ec) {
        loaded.state = ReadState::Unreadable;
        loaded.error = ec;
    } else if (auto doc = RegistryDocument::Parse(text)) {
        loaded.state = ReadState::Ok;
        loaded.doc = std::move(*doc);
    } else {
        loaded.state = ReadState::Damaged;
    }
    return loaded;
}

Loaded LoadShared(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        return {};  // do not create a folder or lock file just to read nothing
    }
    const FileLock lock = FileLock::Shared(LockFileOf(file));
    return Load(file);
}

void CheckKey(const std::filesystem::path& file, std::string_view key) {
    if (!RegistryDocument::ValidKeyPath(key)) {
        throw RegistryError(FileErrorText(file, "invalid key path \"" + std::string(key) + "\"", {}));
    }
}

void CheckText(const std::filesystem::path& file, std::string_view what, std::string_view text) {
    if (!RegistryDocument::ValidText(text)) {
        throw RegistryError(FileErrorText(file, std::string(what) + " holds a control character", {}));
    }
}

// Re-reads the file, lets change edit it and, when it reports a change,
// replaces the file, all under the exclusive lock. Returns what change returned.
bool Modify(const std::filesystem::path& file, const std::function<bool(RegistryDocument&)>& change) {
    const std::filesystem::path folder = file.parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            throw RegistryError(FileErrorText(file, "cannot create the folder " + folder.string(), ec));
        }
    }
    const FileLock lock = FileLock::Exclusive(LockFileOf(file), file);
    Loaded loaded = Load(file);
    if (loaded.state == ReadState::Unreadable) {
        // Replacing a file we could not read would throw its values away.
        throw RegistryError(FileErrorText(file, "cannot read", loaded.error));
    }
    if (!change(loaded.doc)) {
        return false;
    }
    if (loaded.state == ReadState::Damaged) {
        // Start afresh, but keep the damaged file for whoever wants to look at it.
        std::filesystem::path kept = file;
        kept += ".damaged";
        if (::rename(file.c_str(), kept.c_str()) != 0) {
            throw RegistryError(FileErrorText(file, "cannot set the damaged file aside", LastError()));
        }
    }
    RemoveLeftoverTemporaries(file);
    const std::string text = loaded.doc.Serialize();
    if (text.size() > RegistryStore::kMaxFileBytes) {
        throw RegistryError(FileErrorText(file, "cannot write", std::make_error_code(std::errc::file_too_large)));
    }
    if (auto ec = ReplaceWholeFile(file, text, 0600)) {
        throw RegistryError(FileErrorText(file, "cannot write", ec));
    }
    return true;
}

}  // namespace

std::filesystem::path UserRegistryPath() {
    std::filesystem::path config;
    // XDG base folders are absolute paths; a relative value is ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        config = xdg;
    } else {
        config = HomeFolder() / ".config";
    }
    return config / "halvora" / "user.reg";
}

RegistryStore::RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

const std::filesystem::path& RegistryStore::File() const { return file_; }

std::optional<std::uint32_t> RegistryStore::ReadDWord(std::string_view key, std::string_view name) const {
    const Loaded loaded = LoadShared(file_);
    const auto* value = loaded.doc.FindValue(key, name);
    if (value == nullptr || value->type != RegistryDocument::Type::DWord) {
        return std::nullopt;
    }
    return value->dword;
}

std::optional<std::string> RegistryStore::ReadString(std::string_view key, std::string_view name) const {
    const Loaded loaded = LoadShared(file_);
    const auto* value = loaded.doc.FindValue(key, name);
    if (value == nullptr || value->type != RegistryDocument::Type::String) {
        return std::nullopt;
    }
    return value->text;
}

bool RegistryStore::KeyExists(std::string_view key) const {
    return LoadShared(file_).doc.KeyOrSubkeyExists(key);
}

std::vector<std::string> RegistryStore::ValueNames(std::string_view key) const {
    const Loaded loaded = LoadShared(file_);
    std::vector<std::string> names;
    if (const auto* found = loaded.doc.FindKey(key)) {
        for (const auto& value : found->values) {
            names.push_back(value.name);
        }
    }
    return names;
}

void RegistryStore::CreateKey(std::string_view key) {
    CheckKey(file_, key);
    Modify(file_, [&](RegistryDocument& doc) { return doc.CreateKey(key); });
}

void RegistryStore::WriteDWord(std::string_view key, std::string_view name, std::uint32_t value) {
    CheckKey(file_, key);
    CheckText(file_, "value name", name);
    Modify(file_, [&](RegistryDocument& doc) { return doc.SetDWord(key, name, value); });
}

void RegistryStore::WriteString(std::string_view key, std::string_view name, std::string_view value) {
    CheckKey(file_, key);
    CheckText(file_, "value name", name);
    CheckText(file_, "value \"" + std::string(name) + "\"", value);
    Modify(file_, [&](RegistryDocument& doc) { return doc.SetString(key, name, value); });
}

bool RegistryStore::DeleteValue(std::string_view key, std::string_view name) {
    return Modify(file_, [&](RegistryDocument& doc) { return doc.DeleteValue(key, name); });
}

bool RegistryStore::IsDamaged() const {
    const Loaded loaded = LoadShared(file_);
    return loaded.state == ReadState::Damaged || loaded.state == ReadState::Unreadable;
}

}  // namespace halvora
