// Typed text that becomes bytes for the line: macro escapes and hex pairs, and the
// messages that name what is wrong in a bad one.

#include "app/send_text.h"

#include <gtest/gtest.h>

using namespace zelvo::app;

TEST(MacroEscapes, DecodeEveryEscapeAndKeepPlainText)
{
    SendBytes r = DecodeEscapes("AT\\r\\nx\\ty\\\\z\\x1b[A\\xfF\\x00end");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.bytes, std::string("AT\r\nx\ty\\z\x1b[A\xff", 13) + std::string(1, '\0') + "end");
    EXPECT_EQ(DecodeEscapes("").bytes, "");
    EXPECT_EQ(DecodeEscapes("grüße").bytes, "grüße") << "UTF-8 text stands for itself";
}

TEST(MacroEscapes, EveryByteSurvivesEncodingAndDecoding)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    const std::string text = EncodeEscapes(all);
    EXPECT_EQ(text.find_first_of(std::string("\r\n\0", 3)), std::string::npos)
        << "the encoded form fits in one line of the store";
    EXPECT_EQ(DecodeEscapes(text).bytes, all);
    EXPECT_EQ(EncodeEscapes("a\\b\r\n\x1b" "é"), "a\\\\b\\r\\n\\x1Bé");
    // A lone UTF-8 lead byte or a cut sequence is not text.
    EXPECT_EQ(EncodeEscapes("\xc3"), "\\xC3");
    EXPECT_EQ(EncodeEscapes("\xe2\x82"), "\\xE2\\x82");
}

TEST(MacroEscapes, BadEscapesNameTheFaultAndItsColumn)
{
    struct Case {
        const char* text;
        size_t column;
        const char* says;
    } cases[] = {
        {"ab\\q", 3, "Unknown escape \\q"},
        {"\\e[0m", 1, "Unknown escape \\e"},
        {"x\\x4", 2, "\\x needs two hex digits"},
        {"x\\xG1", 2, "\\x needs two hex digits"},
        {"x\\x", 2, "\\x needs two hex digits"},
        {"end\\", 4, "A backslash ends the text"},
        {"\\\x01", 1, "A backslash before byte 0x01 is no escape"},
    };
    for (const Case& c : cases) {
        SendBytes r = DecodeEscapes(c.text);
        EXPECT_FALSE(r.ok()) << c.text;
        EXPECT_TRUE(r.bytes.empty()) << "nothing half-decoded is handed on: " << c.text;
        EXPECT_EQ(r.column, c.column) << c.text;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << c.text << " -> " << r.error;
    }
}

TEST(HexPairs, AcceptTheCommonSpellings)
{
    for (const char* text : {"1B 5B 41 0d", "1b5b410D", "0x1B,0x5B, 0x41:0D", " 1B-5B\t41 0d "}) {
        SendBytes r = ParseHexPairs(text);
        ASSERT_TRUE(r.ok()) << text << ": " << r.error;
        EXPECT_EQ(r.bytes, "\x1b[A\r") << text;
    }
    EXPECT_EQ(ParseHexPairs("00 FF").bytes, std::string("\0\xff", 2));
}

TEST(HexPairs, RefuseWhatIsNotWholeBytes)
{
    struct Case {
        const char* text;
        size_t column;
        const char* says;
    } cases[] = {
        {"1B 5", 4, "\"5\" has an odd number of hex digits"},
        {"1B5B4", 1, "\"1B5B4\" has an odd number"},
        {"41 4G", 5, "\"G\" is not a hex digit"},
        {"0x", 1, "0x must be followed by hex digits"},
        {"   ", 1, "no hex pairs"},
        {"", 1, "no hex pairs"},
    };
    for (const Case& c : cases) {
        SendBytes r = ParseHexPairs(c.text);
        EXPECT_FALSE(r.ok()) << c.text;
        EXPECT_TRUE(r.bytes.empty()) << c.text;
        EXPECT_EQ(r.column, c.column) << c.text;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << c.text << " -> " << r.error;
    }
}
