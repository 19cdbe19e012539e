#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/CLog.h"
#include "common/LogText.h"
#include "tests/spine/AllocationProbe.h"
#include "tests/spine/SpineSupport.h"
#include "viewers/CContact.h"
#include "viewers/CContactList.h"
#include "viewers/ContactsFile.h"

namespace halvora {
namespace {

using spine::FileLines;
using spine::ReadFileBytes;
using spine::TempDir;
using spine::WriteFileBytes;

struct Fields {
    std::string name, company, email, phone, interest, address, history;
    bool blocked = false;
    bool operator==(const Fields&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Fields& f) {
    return os << "{" << f.name << "|" << f.company << "|" << f.email << "|" << f.phone << "|" << f.interest << "|"
              << f.address << "|" << ::testing::PrintToString(f.history) << "|" << f.blocked << "}";
}

Fields FieldsOf(const CContact& c) {
    return {c.Name, c.Company, c.Email, c.Phone, c.Interest, c.Address, c.ChatHistory, c.Blocked};
}

std::vector<Fields> AllFields(CContactList& list) {
    std::lock_guard guard(list);
    std::vector<Fields> out;
    for (int i = 0; i < list.Count(); ++i) {
        out.push_back(FieldsOf(*list.Items(i)));
    }
    return out;
}

CContact* AddContact(CContactList& list, const Fields& f) {
    auto c = std::make_unique<CContact>("", f.address);
    c->Name = f.name;
    c->Company = f.company;
    c->Email = f.email;
    c->Phone = f.phone;
    c->Interest = f.interest;
    c->ChatHistory = f.history;
    c->Blocked = f.blocked;
    return list.Adopt(std::move(c));
}

std::string Le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF), static_cast<char>((u >> 16) & 0xFF),
            static_cast<char>(u >> 24)};
}

std::string Field(std::string_view text) { return Le32(static_cast<std::int32_t>(text.size())) + std::string(text); }

std::string Record(const Fields& f, std::string_view blocked_text) {
    return Field(f.name) + Field(f.company) + Field(f.email) + Field(f.phone) + Field(f.interest) + Field(f.address) +
           Field(f.history) + Field(blocked_text);
}

const std::vector<Fields> kSample = {
    {"guest", "unknown", "unknown", "unknown", "unknown", "192.168.1.20", "\nguest: hi\nServer: hello\n", false},
    {"ann", "", "a@b.c", "", "music", "10.0.0.7", "", true},
    {"\xCE\xEB\xFF", "acme", "x", "555", "tv", "127.0.0.1", "line one\r\nline two\n\n", false},
};

// Each test gets its own program folder and error log.
class ContactsFileTest : public ::testing::Test {
protected:
    void SetUp() override { CLog::Instance().SetFolder(dir.Path()); }

    std::vector<std::string> LogLines() const { return FileLines(dir / "errors.log"); }
    int LoadContactsLogLines() const {
        int n = 0;
        for (const auto& line : LogLines()) {
            n += line.size() >= 18 && line.compare(18, logtext::kLogLoadContacts.size(), logtext::kLogLoadContacts) == 0;
        }
        return n;
    }
    void ForgetLog() const { std::filesystem::remove(dir / "errors.log"); }

    TempDir dir;
    std::filesystem::path file = dir / "contacts.tbl";
};

struct ParseCase {
    const char* text;
    Fields expected;  // address left empty
};

class RegistrationText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RegistrationText, GivesTheFiveValues) {
    const CContact c(GetParam().text, "10.1.2.3");
    Fields expected = GetParam().expected;
    expected.address = "10.1.2.3";
    EXPECT_EQ(FieldsOf(c), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistrationText,
    ::testing::Values(
        ParseCase{"registration&name=guest&company=unknown&email=unknown&phone=unknown&interest=unknown",
                  {"guest", "unknown", "unknown", "unknown", "unknown", "", "", false}},
        ParseCase{"registration&name=ann&company=&email=x&phone=&interest=music", {"ann", "", "x", "", "music", "", "", false}},
        ParseCase{"registration&name=Ann Lee&company=ACME Ltd&email=ann@acme.example&phone=+1 555 0100&interest=tv, radio",
                  {"Ann Lee", "ACME Ltd", "ann@acme.example", "+1 555 0100", "tv, radio", "", "", false}},
        ParseCase{"registration&name=&company=&email=&phone=&interest=", {"", "", "", "", "", "", "", false}},
        // Keys out of order or missing: values are cut where the positions say,
        // and nothing fails.
        ParseCase{"registration&interest=a&phone=b&email=c&company=d&name=e",
                  {"", "", "", "", "a&phone=b&email=c&company=d&name=e", "", "", false}},
        ParseCase{"registration&name=bob", {"", "", "", "", "tion&name=bob", "", "", false}},
        ParseCase{"registration&name=xemail=y&company=c&email=e&phone=p&interest=i",
                  {"xemail=y", "", "y&company=c&email=e", "p", "i", "", "", false}},
        ParseCase{"", {"", "", "", "", "", "", "", false}},
        ParseCase{"name=", {"", "", "", "", "", "", "", false}},
        ParseCase{"interest=", {"", "", "", "", "", "", "", false}}));

TEST_F(ContactsFileTest, AGuestContactIsWrittenInTheExactLayout) {
    CContactList list;
    list.Adopt(std::make_unique<CContact>(CContact::kGuestRegistration, "1.2.3.4"));
    SaveContacts(list, file);
    const std::string expected = Le32(1) + Field("guest") + Field("unknown") + Field("unknown") + Field("unknown") +
                                 Field("unknown") + Field("1.2.3.4") + Field("") + Field("0");
    EXPECT_EQ(ReadFileBytes(file), expected);
    EXPECT_FALSE(std::filesystem::exists(dir / "contacts.tbl.tmp"));
}

TEST_F(ContactsFileTest, SaveThenLoadGivesBackEveryContactInOrder) {
    CContactList saved;
    for (const auto& f : kSample) {
        AddContact(saved, f);
    }
    Fields long_history = kSample[0];
    long_history.address = "10.9.9.9";
    long_history.history = std::string(200000, 'h') + "\n";
    AddContact(saved, long_history);
    SaveContacts(saved, file);

    CContactList loaded;
    LoadContacts(loaded, file);
    EXPECT_EQ(AllFields(loaded), AllFields(saved));
    std::lock_guard guard(loaded);
    for (int i = 0; i < loaded.Count(); ++i) {
        EXPECT_FALSE(loaded.Items(i)->IsOnline()) << "loaded contacts start offline";
    }
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(ContactsFileTest, AStoredZeroByteEndsTheTextWhenRead) {
    CContactList saved;
    Fields f = kSample[1];
    f.name = std::string("ab\0cd", 5);
    f.history = std::string("first\0second", 12);
    AddContact(saved, f);
    SaveContacts(saved, file);
    EXPECT_NE(ReadFileBytes(file).find(Field(std::string("ab\0cd", 5))), std::string::npos)
        << "the text is written with all its bytes";
    CContactList loaded;
    LoadContacts(loaded, file);
    const auto got = AllFields(loaded);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "ab");
    EXPECT_EQ(got[0].history, "first");
    EXPECT_EQ(got[0].interest, "music");
}

TEST_F(ContactsFileTest, LoadedContactsComeAfterTheOnesAlreadyInTheList) {
    CContactList saved;
    AddContact(saved, kSample[0]);
    SaveContacts(saved, file);
    CContactList list;
    AddContact(list, kSample[2]);
    LoadContacts(list, file);
    EXPECT_EQ(AllFields(list), (std::vector<Fields>{kSample[2], kSample[0]}));
}

TEST_F(ContactsFileTest, ShortOrEmptyFilesLoadNothingAndLogNothing) {
    const std::vector<std::string> files = {"", std::string("\x01\x00\x00", 3), Le32(0), Le32(-1) + Record(kSample[0], "0"),
                                            Le32(INT_MIN) + Record(kSample[0], "0")};
    for (const auto& bytes : files) {
        WriteFileBytes(file, bytes);
        CContactList list;
        LoadContacts(list, file);
        EXPECT_EQ(list.Count(), 0) << ::testing::PrintToString(bytes);
    }
    CContactList list;
    LoadContacts(list, dir / "no-such.tbl");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(ContactsFileTest, AFileCutAtAnyByteLoadsTheWholeRecordsBeforeTheCut) {
    std::string valid = Le32(static_cast<std::int32_t>(kSample.size()));
    std::vector<std::size_t> record_ends;
    for (const auto& f : kSample) {
        valid += Record(f, f.blocked ? "1" : "0");
        record_ends.push_back(valid.size());
    }
    for (std::size_t cut = 0; cut <= valid.size(); ++cut) {
        ForgetLog();
        WriteFileBytes(file, std::string_view(valid).substr(0, cut));
        CContactList list;
        LoadContacts(list, file);
        std::size_t whole = 0;
        while (cut >= 4 && whole < record_ends.size() && record_ends[whole] <= cut) {
            ++whole;
        }
        const auto got = AllFields(list);
        ASSERT_EQ(got.size(), whole) << "cut at " << cut;
        for (std::size_t i = 0; i < whole; ++i) {
            ASSERT_EQ(got[i], kSample[i]) << "cut at " << cut;
        }
        const int expected_lines = (cut >= 4 && cut < valid.size()) ? 1 : 0;
        ASSERT_EQ(LoadContactsLogLines(), expected_lines) << "cut at " << cut;
        ASSERT_EQ(static_cast<int>(LogLines().size()), expected_lines) << "cut at " << cut;
    }
}

struct BadLengthCase {
    int field;            // 0..7: which field of the second record carries the length
    std::int32_t length;  // as stored
};

class ContactsBadLength : public ContactsFileTest, public ::testing::WithParamInterface<BadLengthCase> {};

TEST_P(ContactsBadLength, EndsTheLoadAfterTheGoodRecordsWithOneLogLineAndNoHugeBuffer) {
    const Fields& second = kSample[2];
    const std::string fields[8] = {second.name,    second.company, second.email,   second.phone,
                                   second.interest, second.address, second.history, "0"};
    std::string bytes = Le32(2) + Record(kSample[0], "0");
    for (int i = 0; i < 8; ++i) {
        if (i == GetParam().field) {
            bytes += Le32(GetParam().length) + fields[i] + std::string(64, 'z');
            break;
        }
        bytes += Field(fields[i]);
    }
    WriteFileBytes(file, bytes);
    CContactList list;
    spine::ResetLargestAllocation();
    LoadContacts(list, file);
    EXPECT_LT(spine::LargestAllocation(), 1u << 20) << "a stored length sized a buffer";
    EXPECT_EQ(AllFields(list), (std::vector<Fields>{kSample[0]}));
    EXPECT_EQ(LoadContactsLogLines(), 1);
    EXPECT_EQ(LogLines().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ContactsBadLength,
                         ::testing::Values(BadLengthCase{0, -1}, BadLengthCase{3, INT_MIN}, BadLengthCase{7, -5},
                                           BadLengthCase{0, INT_MAX}, BadLengthCase{5, 0x40000000},
                                           BadLengthCase{6, 0x7FFFFFF0}, BadLengthCase{7, 100000}));

TEST_F(ContactsFileTest, AHugeCountWithFewRecordsLoadsThemAndLogsOnce) {
    WriteFileBytes(file, Le32(INT_MAX) + Record(kSample[0], "0") + Record(kSample[1], "1"));
    CContactList list;
    spine::ResetLargestAllocation();
    LoadContacts(list, file);
    EXPECT_LT(spine::LargestAllocation(), 1u << 20) << "the count sized a buffer";
    EXPECT_EQ(AllFields(list), (std::vector<Fields>{kSample[0], kSample[1]}));
    EXPECT_EQ(LoadContactsLogLines(), 1);
}

struct BlockedCase {
    const char* text;
    bool loads;
    bool blocked;
};

class ContactsBlockedField : public ContactsFileTest, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(ContactsBlockedField, IsReadAsADecimalInteger) {
    Fields f = kSample[1];
    WriteFileBytes(file, Le32(2) + Record(kSample[0], "0") + Record(f, GetParam().text));
    CContactList list;
    LoadContacts(list, file);
    const auto got = AllFields(list);
    if (GetParam().loads) {
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[1].blocked, GetParam().blocked);
        EXPECT_TRUE(LogLines().empty());
        // Written back as read: "1" for any blocking value.
        SaveContacts(list, file);
        EXPECT_EQ(ReadFileBytes(file).substr(ReadFileBytes(file).size() - 5), Field(GetParam().blocked ? "1" : "0"));
    } else {
        EXPECT_EQ(got, (std::vector<Fields>{kSample[0]}));
        EXPECT_EQ(LoadContactsLogLines(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ContactsBlockedField,
                         ::testing::Values(BlockedCase{"0", true, false}, BlockedCase{"1", true, true},
                                           BlockedCase{"2", true, true}, BlockedCase{"-1", true, true},
                                           BlockedCase{"abc", false, false}, BlockedCase{"", false, false},
                                           BlockedCase{"1x", false, false}));

TEST_F(ContactsFileTest, ASaveThatCannotCreateItsFileWritesNothingAndLogsNothing) {
    CContactList list;
    AddContact(list, kSample[0]);
    SaveContacts(list, dir / "missing" / "contacts.tbl");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(ContactsFileTest, ASaveThatCannotReplaceTheFileLogsOnceAndLeavesNoTemporaryFile) {
    std::filesystem::create_directory(file);  // something that is no file stands in the way
    CContactList list;
    AddContact(list, kSample[0]);
    SaveContacts(list, file);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].compare(18, logtext::kLogSaveContacts.size(), logtext::kLogSaveContacts), 0) << lines[0];
    EXPECT_FALSE(std::filesystem::exists(dir / "contacts.tbl.tmp"));
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

TEST_F(ContactsFileTest, AFolderInPlaceOfTheFileLoadsNothing) {
    std::filesystem::create_directory(file);
    CContactList list;
    LoadContacts(list, file);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(ContactsFileTest, AReaderNeverSeesAHalfWrittenTable) {
    CContactList saved;
    for (int i = 0; i < 40; ++i) {
        Fields f = kSample[i % 3];
        f.address = "10.0.1." + std::to_string(i);
        f.history = std::string(20000, static_cast<char>('a' + i % 26)) + "\n";
        AddContact(saved, f);
    }
    SaveContacts(saved, file);
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < 60; ++i) {
            SaveContacts(saved, file);
        }
        writing = false;
    });
    int loads = 0;
    int bad_loads = 0;
    while (writing.load() || loads < 5) {
        CContactList list;
        LoadContacts(list, file);
        bad_loads += list.Count() != 40;
        ++loads;
    }
    writer.join();
    EXPECT_EQ(bad_loads, 0) << "of " << loads << " loads";
    EXPECT_TRUE(LogLines().empty());
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename(), "contacts.tbl") << "left behind: " << entry.path();
    }
}

TEST(ContactList, FindByAddressTakesTheFirstExactMatch) {
    CContactList list;
    CContact* first = AddContact(list, {"a", "", "", "", "", "10.0.0.1", "", false});
    CContact* ten = AddContact(list, {"b", "", "", "", "", "10.0.0.10", "", false});
    AddContact(list, {"c", "", "", "", "", "10.0.0.1", "", false});
    EXPECT_EQ(list.FindByAddress("10.0.0.1"), first);
    EXPECT_EQ(list.FindByAddress("10.0.0.10"), ten);
    for (const char* miss : {"10.0.0.100", "10.0.0.1 ", "10.0.0", "", "010.0.0.1"}) {
        EXPECT_EQ(list.FindByAddress(miss), nullptr) << miss;
    }
}

TEST(ContactList, DestroyAllEmptiesTheListAndAContactGoesOfflineWhenItsLastConnectionLeaves) {
    CContactList list;
    CContact* c = AddContact(list, kSample[0]);
    auto* fake = reinterpret_cast<TMyServerSendThread*>(&list);  // never dereferenced
    c->Threads.Add(fake);
    EXPECT_TRUE(c->IsOnline());
    EXPECT_EQ(c->Threads.Extract(fake), fake);
    EXPECT_FALSE(c->IsOnline());
    list.DestroyAll();
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace halvora
