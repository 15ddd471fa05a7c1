#include "catalog/csv_reader.h"

#include <gtest/gtest.h>

namespace orlune {
namespace {

using Rows = std::vector<QStringList>;

TEST(CSVReader, QuotedFieldKeepsCommaAndOneQuote) {
    EXPECT_EQ(parseCSV(u"a,\"x, \"\"y\"\"\",b\n"), (Rows{{"a", "x, \"y\"", "b"}}));
}

TEST(CSVReader, LineEndingsAreEquivalent) {
    const Rows expected{{"a", "b"}, {"c", "d"}};
    EXPECT_EQ(parseCSV(u"a,b\r\nc,d\r\n"), expected);
    EXPECT_EQ(parseCSV(u"a,b\nc,d\n"), expected);
    EXPECT_EQ(parseCSV(u"a,b\rc,d\r"), expected);
    // Inside quotes too: CR LF and a lone CR become one line feed.
    EXPECT_EQ(parseCSV(u"\"x\r\ny\rz\"\r\n"), (Rows{{"x\ny\nz"}}));
}

TEST(CSVReader, RowsOfEmptyFieldsAreDroppedButAnUnterminatedLastRowIsKept) {
    EXPECT_EQ(parseCSV(u"a\n,,,\n\nb\n"), (Rows{{"a"}, {"b"}}));
    EXPECT_EQ(parseCSV(u"a\nlast,row"), (Rows{{"a"}, {"last", "row"}}));
    EXPECT_EQ(parseCSV(u"a\n,,"), (Rows{{"a"}, {"", "", ""}}));
    EXPECT_EQ(parseCSV(u""), Rows{});
}

TEST(CSVReader, BareQuotesInsideUnquotedFieldsAreText) {
    // VPN Gate's operator messages contain quotes without any quoting of the field.
    EXPECT_EQ(parseCSV(u"say \"hi\",b\n"), (Rows{{"say \"hi\"", "b"}}));
    // A quote after a closed quoted field's text continues the field as ordinary text.
    EXPECT_EQ(parseCSV(u"\"ab\"c\"d,e\n"), (Rows{{"abc\"d", "e"}}));
}

TEST(CSVReader, QuotedLineBreaksStayButFieldEdgesAreTrimmed) {
    EXPECT_EQ(parseCSV(u"\"one\r\ntwo\",\"\nedge\n\"\n"), (Rows{{"one\ntwo", "edge"}}));
    // Spaces are kept.
    EXPECT_EQ(parseCSV(u" a , b \n"), (Rows{{" a ", " b "}}));
}

TEST(CSVReader, UnclosedQuoteRunsToTheEnd) {
    EXPECT_EQ(parseCSV(u"a,\"b\nc,d"), (Rows{{"a", "b\nc,d"}}));
}

TEST(CSVReader, DelimiterWithCombiningMarkIsOrdinaryText) {
    // A comma followed by U+0301 is one character, not a separator.
    EXPECT_EQ(parseCSV(u"a,\u0301b,c\n"), (Rows{{"a,\u0301b", "c"}}));
    EXPECT_EQ(parseCSV(u"日本,東京\n"), (Rows{{"日本", "東京"}}));
}

}  // namespace
}  // namespace orlune
