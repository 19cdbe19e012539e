#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "server/HttpReplies.h"
#include "server/RequestParser.h"

namespace halvora {
namespace {

struct TargetCase {
    std::string request;
    std::string target;
};

class RequestTargetTable : public ::testing::TestWithParam<TargetCase> {};

TEST_P(RequestTargetTable, IsTheTextBetweenGetAndHttp) { EXPECT_EQ(RequestTarget(GetParam().request), GetParam().target); }

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestTargetTable,
    ::testing::Values(TargetCase{"GET /chat HTTP/1.0\r\n\r\n", "chat "}, TargetCase{"GET / HTTP/1.0\r\n", " "},
                      TargetCase{"GET /HTTP", ""},
                      // Without "GET /" the target starts at the fifth character.
                      TargetCase{"POST /chat HTTP/1.0", " /chat "}, TargetCase{"HEAD /audiovideo HTTP/1.0", " /audiovideo "},
                      // Without "HTTP", or with "HTTP" before "GET /", it is empty.
                      TargetCase{"GET /chat\r\n\r\n", ""}, TargetCase{"HTTP/1.0 GET /chat", ""},
                      TargetCase{"get /chat http/1.0", ""}, TargetCase{"", ""}, TargetCase{"GET /", ""},
                      TargetCase{"HTTP", ""}, TargetCase{"abcHTTP", ""}, TargetCase{"abcdHTTP", ""},
                      TargetCase{"abcdeHTTP", "e"}, TargetCase{"abcdefHTTP", "ef"},
                      TargetCase{"GET /a GET /b HTTP HTTP", "a GET /b "}));

struct ClassifyCase {
    std::string target;  // already lower-cased
    Command command;
};

class ClassifyTable : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyTable, TheFirstKeywordInOrderDecides) {
    EXPECT_EQ(ClassifyTarget(GetParam().target), GetParam().command) << GetParam().target;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyTable,
    ::testing::Values(ClassifyCase{"audiovideo ", cmdAudioVideo}, ClassifyCase{"xvideox ", cmdVideo},
                      ClassifyCase{"chat ", cmdChat}, ClassifyCase{"audio ", cmdAudio},
                      ClassifyCase{"client.jar ", cmdClientJar}, ClassifyCase{"message?message=hi ", cmdMessage},
                      ClassifyCase{" ", cmdPage}, ClassifyCase{"favicon.ico ", cmdPage}, ClassifyCase{"", cmdPage},
                      ClassifyCase{"message?message=my video ", cmdVideo},
                      ClassifyCase{"message?message=chat about audio ", cmdChat},
                      ClassifyCase{"audio/client.jar ", cmdAudio}, ClassifyCase{"chatvideo", cmdVideo},
                      ClassifyCase{"audio video", cmdVideo}, ClassifyCase{"client.ja", cmdPage},
                      ClassifyCase{"messag", cmdPage}));

TEST(LowerAnsi, LowersLatinAndCyrillicLettersAndKeepsEveryOtherByte) {
    EXPECT_EQ(LowerAnsi("AudioVIDEO Z@[`az{"), "audiovideo z@[`az{");
    // А..Я -> а..я, Ё -> ё, Ї -> ї, and bytes that are no capital letters stay.
    EXPECT_EQ(LowerAnsi(std::string("\xC0\xCF\xDF\xA8\xAF\xE0\xFF\xB8\x00\x7F", 10)), std::string("\xE0\xEF\xFF\xB8\xBF\xE0\xFF\xB8\x00\x7F", 10));
    EXPECT_EQ(LowerAnsi("%41%4A+1"), "%41%4a+1");
}

struct DecodeCase {
    std::string encoded;
    std::string decoded;
};

class UrlDecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(UrlDecodeTable, Decodes) { EXPECT_EQ(UrlDecode(GetParam().encoded), GetParam().decoded); }

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlDecodeTable,
    ::testing::Values(DecodeCase{"hello+world", "hello world"}, DecodeCase{"%41%4a%4A", "AJJ"},
                      DecodeCase{"a%20b", "a b"}, DecodeCase{"%2B", "+"}, DecodeCase{"%2b+", "+ "},
                      DecodeCase{"%FF%ce", "\xFF\xCE"},
                      // A zero value or characters that are not hexadecimal vanish
                      // with the percent sign.
                      DecodeCase{"x%00y", "xy"}, DecodeCase{"%zzc", "c"}, DecodeCase{"%g1x", "x"},
                      DecodeCase{"%4g!", "!"}, DecodeCase{"%%41", "1"}, DecodeCase{"% 1z", "z"},
                      // A percent sign in one of the last two places takes what is left.
                      DecodeCase{"ab%", "ab"}, DecodeCase{"ab%4", "ab"}, DecodeCase{"%", ""}, DecodeCase{"%4", ""},
                      DecodeCase{"", ""}, DecodeCase{"plain", "plain"}));

struct MessageCase {
    std::string decoded_target;
    std::string text;
};

class MessageTextTable : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageTextTable, DropsThePrefixAndTheLastCharacter) {
    EXPECT_EQ(MessageText(GetParam().decoded_target), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, MessageTextTable,
                         ::testing::Values(MessageCase{"message?message=hello world ", "hello world"},
                                           MessageCase{"message?message=h ", "h"}, MessageCase{"message?message= ", ""},
                                           MessageCase{"message?message=", ""}, MessageCase{"message", ""},
                                           MessageCase{"", ""}, MessageCase{"xxxxxxxxxxxxxxxxABC", "AB"}));

TEST(HttpDate, IsTheEnglishUtcDate) {
    EXPECT_EQ(HttpDate(1110204129), "Mon, 07 Mar 2005 14:02:09 GMT");
    EXPECT_EQ(HttpDate(1136073599), "Sat, 31 Dec 2005 23:59:59 GMT");
    EXPECT_EQ(HttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
}

}  // namespace
}  // namespace halvora
