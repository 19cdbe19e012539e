#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace halvora {

class CContactList;
class CContact;

// A contacts.tbl record could not be read; loading stops there.
class ContactsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads contacts.tbl fields with every length checked against what is left of
// the file, so a damaged file never makes us allocate more than it holds.
class ContactReader {
public:
    explicit ContactReader(std::FILE* file);
    // The 32-bit count in front of the records; 0 when fewer than 4 bytes remain.
    std::int32_t ReadCount();
    // One text field: a 32-bit length, then that many bytes; the text ends at the
    // first zero byte. A negative length or one beyond the end of the file is a
    // read failure.
    std::string ReadText();

private:
    bool ReadInt32(std::int32_t& value);
    std::FILE* file_;
    long remaining_;
};

// Writes contacts.tbl fields: a 32-bit little-endian length, then the bytes.
class ContactWriter {
public:
    explicit ContactWriter(std::FILE* file) : file_(file) {}
    void WriteCount(std::int32_t count);
    void WriteText(const std::string& text);

private:
    std::FILE* file_;
};

// Appends the contacts of the file to the list (under its lock). A missing or
// unreadable file changes nothing and reports nothing; a damaged record stops the
// load, keeps what was loaded and writes one log line.
void LoadContacts(CContactList& contacts, const std::filesystem::path& file);

// Writes every contact to the file: the count, then each record. The table is
// written to a temporary file beside it and renamed over it, so a crash mid-save
// never leaves half a table. Holds the list's lock for the whole save. A file
// that cannot be created is silently skipped; a failure while writing is logged.
void SaveContacts(CContactList& contacts, const std::filesystem::path& file);

// contacts.tbl in the program folder.
std::filesystem::path ContactsFilePath();

}  // namespace halvora
