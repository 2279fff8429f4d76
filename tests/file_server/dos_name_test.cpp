// DOS name rules: pattern normalisation, FCB and long-name matching, rename's destination
// patterns and 8.3 aliases.

#include "file_server/dos_name.h"

#include <gtest/gtest.h>

namespace zelvo::file_server {
namespace {

std::string normalised(std::string p)
{
    normalisePattern(p);
    return p;
}

TEST(DosName, PaddedPatternsBecomeStars)
{
    EXPECT_EQ(normalised("C:\\????????.???"), "C:\\*.*");
    EXPECT_EQ(normalised("C:\\DIR\\AB??????.TX?"), "C:\\DIR\\AB*.TX*");
    EXPECT_EQ(normalised("????????.A??"), "*.A*");
    // Only an 8-character name and a 3-character extension are padding.
    EXPECT_EQ(normalised("C:\\AB???.TXT"), "C:\\AB???.TXT");
    EXPECT_EQ(normalised("C:\\ABCDEFGH.T?"), "C:\\ABCDEFGH.T?");
    EXPECT_EQ(normalised("C:\\FILE.TXT"), "C:\\FILE.TXT");
    EXPECT_EQ(normalised("\\\\SRV\\SHARE\\????????.???"), "\\\\SRV\\SHARE\\*.*");
    EXPECT_EQ(normalised(""), "");
}

TEST(DosName, FcbMatchingPadsNameAndExtension)
{
    EXPECT_TRUE(fcbMatches("*.*", "README"));
    EXPECT_TRUE(fcbMatches("*.*", "A.B"));
    EXPECT_TRUE(fcbMatches("*.TXT", "NOTES.TXT"));
    EXPECT_FALSE(fcbMatches("*.TXT", "NOTES.TX"));
    EXPECT_TRUE(fcbMatches("A?.TXT", "A.TXT")); // '?' also matches padding
    EXPECT_TRUE(fcbMatches("AB*.TX*", "ABCDEF.TXT"));
    EXPECT_TRUE(fcbMatches("ab*.t?t", "ABX.TXT"));
    EXPECT_FALSE(fcbMatches("*.", "FILE.TXT")); // "*." means no extension
    EXPECT_TRUE(fcbMatches("*.", "FILE"));
    EXPECT_TRUE(fcbMatches("*.*", ".."));
    EXPECT_FALSE(fcbMatches("*.TXT", ".."));
    // A name part longer than 8 is no 8.3 pattern: it is not cut to fit.
    EXPECT_FALSE(fcbMatches("LONGNAMEX.TXT", "LONGNAME.TXT"));
}

TEST(DosName, LongNamesMatchAsGlobs)
{
    EXPECT_TRUE(globMatches("*.html", "Index.HTML"));
    EXPECT_TRUE(globMatches("*", "anything at all"));
    EXPECT_TRUE(globMatches("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(globMatches("a*b*c", "aXXbYY"));
    EXPECT_TRUE(globMatches("?ong*", "long file name.txt"));
    EXPECT_TRUE(patternMatches("*.HTM", "INDEX~1.HTM", "index.html"));
    EXPECT_TRUE(patternMatches("index.html", "INDEX~1.HTM", "index.html"));
    EXPECT_FALSE(patternMatches("*.TXT", "INDEX~1.HTM", "index.html"));
}

TEST(DosName, DestinationPatterns)
{
    EXPECT_EQ(applyDestinationPattern("*.BAK", "NOTES.TXT"), "NOTES.BAK");
    EXPECT_EQ(applyDestinationPattern("*.BAK", "MAKEFILE"), "MAKEFILE.BAK");
    EXPECT_EQ(applyDestinationPattern("X?????.*", "ABCDEF.TXT"), "XBCDEF.TXT");
    EXPECT_EQ(applyDestinationPattern("??.*", "A.TXT"), "A.TXT");
    EXPECT_EQ(applyDestinationPattern("NEW.TXT", "OLD.DOC"), "NEW.TXT");
    EXPECT_EQ(applyDestinationPattern("*.", "FILE.TXT"), "FILE.");
    EXPECT_EQ(applyDestinationPattern("C:\\DIR\\*.BAK", "C:\\DIR\\FOO.TXT"), "C:\\DIR\\FOO.BAK");
}

TEST(DosName, ShortNamesAndAliases)
{
    EXPECT_TRUE(isValidShortName("README.TXT"));
    EXPECT_TRUE(isValidShortName("readme.txt"));
    EXPECT_TRUE(isValidShortName("A"));
    EXPECT_FALSE(isValidShortName("LONGNAMES.TXT"));
    EXPECT_FALSE(isValidShortName("A.HTML"));
    EXPECT_FALSE(isValidShortName("A.B.C"));
    EXPECT_FALSE(isValidShortName("A B.TXT"));
    EXPECT_FALSE(isValidShortName(".profile"));
    EXPECT_FALSE(isValidShortName("FILE."));

    std::string base;
    std::string ext;
    aliasParts("Long Name.text", base, ext);
    EXPECT_EQ(base, "LONGNAME");
    EXPECT_EQ(ext, "TEX");
    EXPECT_EQ(makeAlias(base, ext, 1), "LONGNA~1.TEX");
    EXPECT_EQ(makeAlias(base, ext, 12), "LONGN~12.TEX");
    aliasParts(".bashrc", base, ext);
    EXPECT_EQ(makeAlias(base, ext, 1), "BASHRC~1");
    aliasParts("a+b=c.tar.gz", base, ext);
    EXPECT_EQ(makeAlias(base, ext, 2), "A_B_CT~2.GZ");

    EXPECT_TRUE(isValidNewName("Report 2024.txt"));
    EXPECT_FALSE(isValidNewName("A*.TXT"));
    EXPECT_FALSE(isValidNewName("A:B"));
    EXPECT_FALSE(isValidNewName(".."));
    EXPECT_FALSE(isValidNewName(std::string("A\x01", 2)));
}

} // namespace
} // namespace zelvo::file_server
