#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace halvora {

// Whole-file reads and replacements shared by the settings file and the
// registry store, which both rewrite a small text file as one piece.

// Reads the whole file into out (cleared first). Returns no error on success;
// errc::no_such_file_or_directory when it is missing; errc::file_too_large
// when it holds more than max_bytes (out is then empty: nothing beyond the
// limit is ever allocated); another errno value when it cannot be read.
std::error_code ReadWholeFile(const std::filesystem::path& file, std::size_t max_bytes,
                              std::string& out);

// Replaces the file's contents with bytes as one step: a temporary file in the
// same folder is written, flushed to disk and renamed over the file, so a reader
// sees either the old or the new contents, never a mix, and a crash leaves the
// old file. A symbolic link is followed (its target is replaced). An existing
// file keeps its permission bits; a new one gets new_file_mode. A file that
// exists but cannot be opened for writing is refused with the reason, as an
// in-place write would be (the rename alone would bypass a read-only file).
std::error_code ReplaceWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                 mode_t new_file_mode);

// Removes temporary files that ReplaceWholeFile calls killed midway left
// beside the file. Only for a caller that knows no other replacement of the
// file is under way (one holding the file's writer lock).
void RemoveLeftoverTemporaries(const std::filesystem::path& file);

// "<file>: <reason>", the form of every settings and registry error message.
std::string FileErrorText(const std::filesystem::path& file, std::string_view what,
                          std::error_code reason);

}  // namespace halvora
