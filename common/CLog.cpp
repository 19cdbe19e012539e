#include "common/CLog.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace halvora {

CLog::CLog(std::filesystem::path path) : path_(std::move(path)) {}

CLog& CLog::Instance() {
    static CLog log("errors.log");
    return log;
}

void CLog::SetFolder(const std::filesystem::path& folder) {
    std::lock_guard guard(*this);
    path_ = folder / "errors.log";
}

std::filesystem::path CLog::Path() const {
    std::lock_guard guard(*this);
    return path_;
}

std::string CLog::TimeStamp(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S ", &utc);
    return std::string(text, n);
}

void CLog::Write(std::string_view message) noexcept {
    Write(message, std::string_view{});
}

void CLog::Write(std::string_view prefix, std::string_view failure) noexcept {
    try {
        std::lock_guard guard(*this);
        struct Closer {
            void operator()(std::FILE* f) const { std::fclose(f); }
        };
        std::unique_ptr<std::FILE, Closer> file(std::fopen(path_.c_str(), "ab"));
        if (!file) {
            return;
        }
        const std::string stamp = TimeStamp(std::time(nullptr));
        std::string line;
        line.reserve(stamp.size() + prefix.size() + failure.size() + 1);
        line.append(stamp).append(prefix).append(failure).push_back('\n');
        std::fwrite(line.data(), 1, line.size(), file.get());
    } catch (...) {
        // The log is the last resort for failures; it has nobody to report to.
    }
}

}  // namespace halvora
