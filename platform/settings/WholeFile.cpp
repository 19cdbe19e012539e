#include "platform/settings/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace halvora {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

// Owns one file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes now and reports close's own failure (a delayed write error).
    std::error_code Close() {
        if (fd_ < 0) {
            return {};
        }
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? std::error_code{} : LastError();
    }

private:
    int fd_;
};

std::error_code WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// The temporary file beside the file: ".<name>.XXXXXX" (mkostemp fills the Xs).
std::string TemporaryPattern(const std::filesystem::path& file) {
    return "." + file.filename().string() + ".XXXXXX";
}

}  // namespace

std::error_code ReadWholeFile(const std::filesystem::path& file, std::size_t max_bytes,
                              std::string& out) {
    out.clear();
    // Non-blocking, so that a FIFO put where the file should be cannot hang the
    // reader; it is refused below with everything else that is not a file.
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) {
        return LastError();
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        return LastError();
    }
    if (S_ISDIR(st.st_mode)) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    if (!S_ISREG(st.st_mode)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (static_cast<std::uintmax_t>(st.st_size) > max_bytes) {
        return std::make_error_code(std::errc::file_too_large);
    }
    // The file may grow while it is read: the limit holds for what is read.
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const auto ec = LastError();
            out.clear();
            return ec;
        }
        if (n == 0) {
            break;
        }
        if (out.size() + static_cast<std::size_t>(n) > max_bytes) {
            out.clear();
            out.shrink_to_fit();
            return std::make_error_code(std::errc::file_too_large);
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    return {};
}

std::error_code ReplaceWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                 mode_t new_file_mode) {
    std::error_code ec;
    std::filesystem::path target = file;
    if (std::filesystem::is_symlink(file, ec)) {
        auto resolved = std::filesystem::weakly_canonical(file, ec);
        if (ec) {
            return ec;
        }
        target = std::move(resolved);
    }
    ec.clear();

    mode_t mode = new_file_mode;
    {
        // Probe writability the way an in-place write would: root or not, a
        // directory, a read-only file system or a read-only file (for a normal
        // user) is refused here rather than silently replaced by the rename.
        Fd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (probe.Valid()) {
            struct stat st {};
            if (::fstat(probe.Get(), &st) != 0) {
                return LastError();
            }
            if (!S_ISREG(st.st_mode)) {
                return std::make_error_code(std::errc::invalid_argument);
            }
            mode = st.st_mode & 07777;
        } else if (errno != ENOENT) {
            return LastError();
        }
    }

    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string temp_name = (folder / TemporaryPattern(target)).string();
    Fd temp(::mkostemp(temp_name.data(), O_CLOEXEC));
    if (!temp.Valid()) {
        return LastError();
    }
    auto fail = [&](std::error_code why) {
        temp.Close();
        ::unlink(temp_name.c_str());
        return why;
    };
    if (auto why = WriteAll(temp.Get(), bytes)) {
        return fail(why);
    }
    if (::fchmod(temp.Get(), mode) != 0) {
        return fail(LastError());
    }
    if (::fsync(temp.Get()) != 0) {
        return fail(LastError());
    }
    if (auto why = temp.Close()) {
        return fail(why);
    }
    if (::rename(temp_name.c_str(), target.c_str()) != 0) {
        return fail(LastError());
    }
    // Make the rename itself durable; a failure here loses nothing already
    // visible, so it is not reported.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        ::fsync(dir.Get());
    }
    return {};
}

void RemoveLeftoverTemporaries(const std::filesystem::path& file) {
    const std::string pattern = TemporaryPattern(file);
    const std::string_view prefix = std::string_view(pattern).substr(0, pattern.size() - 6);
    std::error_code ec;
    std::filesystem::directory_iterator it(file.parent_path().empty() ? "." : file.parent_path(), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == pattern.size() && name.starts_with(prefix)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

std::string FileErrorText(const std::filesystem::path& file, std::string_view what,
                          std::error_code reason) {
    std::string text = file.string();
    text += ": ";
    text += what;
    if (reason) {
        text += ": ";
        text += reason.message();
    }
    return text;
}

}  // namespace halvora
