#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewers/ActiveConnections.h"

namespace halvora {
namespace {

struct MemoCase {
    std::string text;
    std::vector<std::string> lines;
};

class ParseForMemoTable : public ::testing::TestWithParam<MemoCase> {};

TEST_P(ParseForMemoTable, SplitsIntoTheMemosLines) {
    EXPECT_EQ(ActiveConnections::ParseForMemo(GetParam().text), GetParam().lines)
        << ::testing::PrintToString(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseForMemoTable,
    ::testing::Values(MemoCase{"\nfirst\nsecond\n", {"first", "second"}},
                      MemoCase{"first\r\nsecond", {"first", "second"}}, MemoCase{"", {}},
                      MemoCase{"\n\n\n", {}}, MemoCase{"only", {"only"}},
                      MemoCase{"\nann: hi\nServer: hello\n", {"ann: hi", "Server: hello"}},
                      // A carriage return with no line feed after it stays in the last line;
                      // one after a line feed pulls that line feed into the line.
                      MemoCase{"a\nb\rc", {"a\nb", "b\rc"}},
                      // A line feed before the first carriage return: the line runs up
                      // to that carriage return, only the text up to the line feed goes.
                      MemoCase{"a\nb\rc\nd", {"a\nb", "b", "d"}}));

}  // namespace
}  // namespace halvora
