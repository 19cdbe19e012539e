#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace halvora {

// A settings file that could not be written. The message names the file and
// the reason.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Start-up reads setup.ini values into 512-byte buffers; language files allow
// values of up to 2047 characters.
inline constexpr std::size_t kStartupValueChars = 511;
inline constexpr std::size_t kLanguageValueChars = 2047;

// An initialisation file (setup.ini, a language file) with the platform's rules:
//
//   ; comment
//   [Section]
//   Key=Value
//
// Section and key names match without regard to ASCII letter case; the first
// matching section and, in it, the first matching key count. Texts are bytes:
// nothing is converted (language files are UTF-8; a UTF-8 byte-order mark at
// the start is skipped). Lines end in \n or \r\n.
//
// Nothing is cached: each call opens, reads and closes the file, as the program
// reads a setting at the moment it needs it and writes it at once.
class SettingsFile {
public:
    // A file larger than this is read as missing and refused for writing.
    static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

    explicit SettingsFile(std::filesystem::path file);

    // setup.ini in the program folder.
    static SettingsFile Setup();

    // The value, or def when the file, the section or the key is missing; never
    // fails. Surrounding spaces and tabs are dropped and one pair of enclosing
    // double quotes removed; the result (def too, as with the platform's
    // fixed-size buffer) is cut to its first max_chars bytes.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def,
                           std::size_t max_chars = kStartupValueChars) const;

    // Creates the file, the section or the key as needed, or replaces the
    // value, keeping every other line byte for byte and the file's line ending
    // style. The file is replaced as a whole (see ReplaceWholeFile), so a reader
    // never sees half a file. Throws SettingsError when the file cannot be
    // written, or when a name or the value cannot be stored (a line break, a
    // key with '=' or leading ';' or '[', a section with ']', an empty name).
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    const std::filesystem::path& File() const;

private:
    std::filesystem::path file_;
};

}  // namespace halvora
