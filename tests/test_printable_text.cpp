#include <gtest/gtest.h>

#include <string>

#include "PrintableText.h"

// Control characters and bytes that are no UTF-8 become \xHH; printable
// text, UTF-8 included, stays, so a message stays one harmless line.
TEST(PrintableText, EscapesControlsAndBrokenBytesKeepsText)
{
    EXPECT_EQ(PrintableText("DimSize = 2 2"), "DimSize = 2 2");
    EXPECT_EQ(PrintableText("a\nb\r\tc"), "a\\x0Ab\\x0D\\x09c");
    EXPECT_EQ(PrintableText("\x1b[31mred\x07"), "\\x1B[31mred\\x07");
    EXPECT_EQ(PrintableText(std::string("nul\0here", 8)), "nul\\x00here");
    EXPECT_EQ(PrintableText("del\x7f"), "del\\x7F");
    // UTF-8: a name with accents and a CJK character passes; C1 controls
    // (U+009B is a terminal's CSI), lone continuation bytes, overlong forms,
    // surrogates and cut sequences do not.
    EXPECT_EQ(PrintableText("Sch\xc3\xa4"
                            "del \xe8\x84\xb3"),
              "Sch\xc3\xa4"
              "del \xe8\x84\xb3");
    EXPECT_EQ(PrintableText("\xc2\x9b"
                            "2J"),
              "\\xC2\\x9B2J");
    EXPECT_EQ(PrintableText("\x80"), "\\x80");
    EXPECT_EQ(PrintableText("\xc0\xaf"), "\\xC0\\xAF");
    EXPECT_EQ(PrintableText("\xed\xa0\x80"), "\\xED\\xA0\\x80");
    EXPECT_EQ(PrintableText("cut \xe2\x82"), "cut \\xE2\\x82");
    // Escaped text is printable: a second pass changes nothing.
    const std::string once = PrintableText("\x1b]0;title\x07\xff");
    EXPECT_EQ(PrintableText(once), once);
}
