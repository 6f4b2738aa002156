// The pages held in memory: numbers, texts and the page item's texts.

#include <gtest/gtest.h>

#include <climits>

#include "Pages.h"

namespace {

TEST(Pages, NrToStringGivesPlainDigits)
{
    EXPECT_EQ(NrToString(0), "0");
    EXPECT_EQ(NrToString(7), "7");
    EXPECT_EQ(NrToString(18446744073709551615ULL), "18446744073709551615");
}

TEST(Pages, PageNumbersReadLikeAnUnsignedConversion)
{
    EXPECT_EQ(readPageNumber("5"), 5ULL);
    EXPECT_EQ(readPageNumber("+5"), 5ULL);
    EXPECT_EQ(readPageNumber("007"), 7ULL);
    EXPECT_EQ(readPageNumber("12abc"), 12ULL);
    EXPECT_EQ(readPageNumber(" \t9"), 9ULL);
    EXPECT_EQ(readPageNumber("0"), 0ULL);
    EXPECT_EQ(readPageNumber("18446744073709551615"), 18446744073709551615ULL);
    EXPECT_EQ(readPageNumber("18446744073709551616"), std::nullopt);
    EXPECT_EQ(readPageNumber("99999999999999999999999"), std::nullopt);
    EXPECT_EQ(readPageNumber("abc"), std::nullopt);
    EXPECT_EQ(readPageNumber(""), std::nullopt);
    EXPECT_EQ(readPageNumber("+"), std::nullopt);
    EXPECT_EQ(readPageNumber("+-1"), std::nullopt);
    // A minus sign is refused rather than wrapped around.
    EXPECT_EQ(readPageNumber("-1"), std::nullopt);
    EXPECT_EQ(readPageNumber("-0"), std::nullopt);
}

TEST(Pages, PositionsReadLikeASignedConversion)
{
    EXPECT_EQ(readPosition("3"), 3LL);
    EXPECT_EQ(readPosition("+3x"), 3LL);
    EXPECT_EQ(readPosition("-2"), -2LL);
    EXPECT_EQ(readPosition("0"), 0LL);
    EXPECT_EQ(readPosition("9223372036854775807"), LLONG_MAX);
    EXPECT_EQ(readPosition("-9223372036854775808"), LLONG_MIN);
    EXPECT_EQ(readPosition("9223372036854775808"), std::nullopt);
    EXPECT_EQ(readPosition("-9223372036854775809"), std::nullopt);
    EXPECT_EQ(readPosition("to"), std::nullopt);
    EXPECT_EQ(readPosition("-"), std::nullopt);
}

TEST(Pages, TextsBlocksAndNames)
{
    EXPECT_EQ(pageText("the  \t end"), "the end ");
    EXPECT_EQ(pageText(" "), "");

    std::string details;
    appendPageBlock(details, Page{7, "007", "hello world "});
    EXPECT_EQ(details, "\nThis is page nr. 007 of the big old book and it reads:\n\n\t\"hello world \"");

    const std::deque<Page> held{{1, "1", "a "}, {12, "12", "b "}};
    EXPECT_EQ(pageDetails(held), "\nThis is page nr. 1 of the big old book and it reads:\n\n\t\"a \""
                                 "\nThis is page nr. 12 of the big old book and it reads:\n\n\t\"b \"");
    EXPECT_EQ(pageDetails({}), "");
    EXPECT_EQ(pageItemName(0), "0 page(s) out of the book");
    EXPECT_EQ(pageItemName(2), "2 page(s) out of the book");
}

} // namespace
