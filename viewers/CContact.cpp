#include "viewers/CContact.h"

#include <stdexcept>

#include "viewers/ContactsFile.h"

namespace halvora {
namespace {

// 1-based position of the first occurrence of key, 0 when absent.
long Pos(std::string_view text, std::string_view key) {
    const auto at = text.find(key);
    return at == std::string_view::npos ? 0 : static_cast<long>(at) + 1;
}

// The eighth field holds Blocked as decimal text; anything that is not a
// 32-bit decimal integer is a damaged record.
bool ParseDecimal(const std::string& text, long long& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) {
            return false;
        }
    }
    value = negative ? -v : v;
    return value >= -2147483648LL && value <= 2147483647LL;
}

}  // namespace

std::string SubString(std::string_view text, long start, long count) {
    if (start < 1) {
        start = 1;
    }
    if (count <= 0 || start > static_cast<long>(text.size())) {
        return {};
    }
    const auto from = static_cast<std::size_t>(start - 1);
    return std::string(text.substr(from, static_cast<std::size_t>(count)));
}

CContact::CContact(std::string_view registration_text, std::string address) : Address(std::move(address)) {
    ParseRegistration(registration_text);
}

CContact::CContact(ContactReader& reader) {
    Name = reader.ReadText();
    Company = reader.ReadText();
    Email = reader.ReadText();
    Phone = reader.ReadText();
    Interest = reader.ReadText();
    Address = reader.ReadText();
    ChatHistory = reader.ReadText();
    const std::string blocked = reader.ReadText();
    long long value = 0;
    if (!ParseDecimal(blocked, value)) {
        throw ContactsFileError("'" + blocked + "' is not a valid integer value");
    }
    Blocked = value != 0;
}

CContact::~CContact() {
    std::lock_guard guard(Threads);
    while (Threads.Count() > 0) {
        Threads.Delete(0);
    }
}

void CContact::ParseRegistration(std::string_view text) {
    const long n = static_cast<long>(text.size());
    const long name = Pos(text, "name=");
    const long company = Pos(text, "company=");
    const long email = Pos(text, "email=");
    const long phone = Pos(text, "phone=");
    const long interest = Pos(text, "interest=");
    Name = SubString(text, name + 5, company - name - 6);
    Company = SubString(text, company + 8, email - company - 9);
    Email = SubString(text, email + 6, phone - email - 7);
    Phone = SubString(text, phone + 6, interest - phone - 7);
    Interest = SubString(text, interest + 9, n - interest - 8);
}

void CContact::SaveToFile(ContactWriter& writer) const {
    writer.WriteText(Name);
    writer.WriteText(Company);
    writer.WriteText(Email);
    writer.WriteText(Phone);
    writer.WriteText(Interest);
    writer.WriteText(Address);
    writer.WriteText(ChatHistory);
    writer.WriteText(Blocked ? "1" : "0");
}

bool CContact::IsOnline() const { return Threads.Count() != 0; }

}  // namespace halvora
