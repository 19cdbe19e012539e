#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/CMultiThreadClass.h"

namespace halvora {

// The process-wide error log, errors.log in the program folder.
//
// Each Write opens the file for appending, writes one entry and closes it, under
// the log's own lock, so entries of concurrent writers never mix and the file may
// be moved or deleted while the program runs. The lock is innermost in the lock
// order: Write may be called while holding any other lock. Write never fails
// towards its caller; an entry that cannot be written is lost.
class CLog : public CMultiThreadClass {
public:
    explicit CLog(std::filesystem::path path);

    // The one log of the process. Its file is "errors.log" in the program folder
    // once SetFolder has run, else in the current directory.
    static CLog& Instance();

    // Points the log at folder/errors.log (start-up calls it once the program
    // folder is known; tests use a fresh folder).
    void SetFolder(const std::filesystem::path& folder);
    std::filesystem::path Path() const;

    void Write(std::string_view message) noexcept;
    // prefix immediately followed by the failure's text, as one entry.
    void Write(std::string_view prefix, std::string_view failure) noexcept;

    // The 18-character UTC stamp "MM/DD/YY HH:MM:SS " for a calendar time.
    static std::string TimeStamp(std::time_t when);

private:
    std::filesystem::path path_;  // guarded by the lock
};

// Shorthand for CLog::Instance().Write(prefix, failure).
inline void LogError(std::string_view prefix, std::string_view failure) noexcept {
    CLog::Instance().Write(prefix, failure);
}

}  // namespace halvora
