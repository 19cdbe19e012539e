#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "common/CMultiThreadList.h"

namespace halvora {

class TMyServerSendThread;
class ContactReader;
class ContactWriter;

// The record of one viewer machine, found by its IPv4 address.
//
// Every read or write of the texts and of Blocked happens while the contacts
// list (CContactList) is locked. Threads has its own lock, taken inside the
// contacts lock or on its own, never the other way round.
class CContact {
public:
    // The registration text a contact made on first connection is parsed from.
    static constexpr std::string_view kGuestRegistration =
        "registration&name=guest&company=unknown&email=unknown&phone=unknown&interest=unknown";

    // Parses the five registration values from text; Address = address.
    CContact(std::string_view registration_text, std::string address);
    // Reads one record from a contacts file; throws ContactsFileError when the
    // record is incomplete or its eighth field is not a decimal integer.
    explicit CContact(ContactReader& reader);
    ~CContact();
    CContact(const CContact&) = delete;
    CContact& operator=(const CContact&) = delete;

    // Writes the record (eight fields) at the writer's position.
    void SaveToFile(ContactWriter& writer) const;
    // True while at least one stream connection serves this contact.
    bool IsOnline() const;

    // Guarded by the contacts list's lock.
    std::string Name;
    std::string Company;
    std::string Email;
    std::string Phone;
    std::string Interest;
    std::string Address;      // dotted IPv4, exactly as the peer address reads
    std::string ChatHistory;  // lines separated by line feeds
    bool Blocked = false;     // every connection from Address is cut off at once

    // The viewer's stream connections now open; owns the list, never the threads.
    CMultiThreadList<TMyServerSendThread> Threads;

private:
    void ParseRegistration(std::string_view text);
};

// The substring rule shared by request and registration parsing: start is
// 1-based; a start beyond the text or a count of 0 or less gives an empty text,
// a start below 1 counts as 1, a count past the end stops at the end.
std::string SubString(std::string_view text, long start, long count);

}  // namespace halvora
