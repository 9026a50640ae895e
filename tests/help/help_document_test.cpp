#include "help/help_document.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string kBar = "\xC2\xA6";
const std::string kRule = "+" + std::string(76, '-') + "+";

// 1-based access, as the outline numbers the lines.
const std::string &line(const std::vector<std::string> &lines, std::size_t number)
{
    return lines.at(number - 1);
}

// Number (1-based) of the line that holds the character at a code-point
// offset of the built document; 0 for the CR LF before line 1.
std::size_t lineAtOffset(const std::string &document, std::size_t offset)
{
    std::size_t characters = 0;
    std::size_t lineNumber = 0;
    for (std::size_t i = 0; i < document.size(); ++i) {
        if ((static_cast<unsigned char>(document[i]) & 0xC0U) == 0x80U)
            continue;
        if (characters == offset)
            return lineNumber;
        if (document[i] == '\n')
            ++lineNumber;
        ++characters;
    }
    return lineNumber;
}

TEST(HelpDocumentTest, HasAllLinesEachLedByCrLf)
{
    const std::vector<std::string> lines = help::helpLines();
    ASSERT_EQ(help::kHelpLineCount, lines.size());

    const std::string document = help::buildHelpDocument();
    ASSERT_EQ("\r\n", document.substr(0, 2));
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t end; (end = document.find("\r\n", start)) != std::string::npos; start = end + 2)
        pieces.push_back(document.substr(start, end - start));
    pieces.push_back(document.substr(start));

    ASSERT_EQ(lines.size() + 1, pieces.size()) << "a line end too many or too few";
    EXPECT_EQ("", pieces.front());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], pieces[i + 1]) << "line " << i + 1;
}

TEST(HelpDocumentTest, IsRebuiltIdentically)
{
    EXPECT_EQ(help::buildHelpDocument(), help::buildHelpDocument());
}

TEST(HelpDocumentTest, TitleOnLineOne)
{
    EXPECT_EQ(std::string(20, ' ') + "R E B O U N C E   T E S T", line(help::helpLines(), 1));
}

TEST(HelpDocumentTest, SizeIsAboutTenThousandSixHundredCharacters)
{
    const std::size_t size = help::countCodePoints(help::buildHelpDocument());
    EXPECT_GE(size, 10300u);
    EXPECT_LE(size, 10900u);
}

TEST(HelpDocumentTest, LineOneEightyFourIsTheUniqueLongest)
{
    const std::vector<std::string> lines = help::helpLines();
    EXPECT_EQ(help::kLongestLineLength,
              help::countCodePoints(line(lines, help::kLongestLineNumber)));
    for (std::size_t n = 1; n <= lines.size(); ++n) {
        if (n == help::kLongestLineNumber)
            continue;
        EXPECT_LT(help::countCodePoints(line(lines, n)), help::kLongestLineLength) << "line " << n;
    }
}

TEST(HelpDocumentTest, PlainTextWithoutTabsOrStrayCharacters)
{
    // Only the heading boxes use a character outside ASCII; a tab or control
    // character would break the alignment in the fixed-pitch view.
    const std::vector<std::string> lines = help::helpLines();
    for (std::size_t n = 1; n <= lines.size(); ++n) {
        std::string text = line(lines, n);
        EXPECT_TRUE(text.empty() || text.back() != ' ') << "trailing blank on line " << n;
        for (std::size_t p; (p = text.find(kBar)) != std::string::npos;)
            text.erase(p, kBar.size());
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << "line " << n << " byte " << int(byte);
        }
    }
}

TEST(HelpDocumentTest, InitialCaretLiesInTheFirstSectionOnTheFirstScreen)
{
    const std::size_t n = lineAtOffset(help::buildHelpDocument(), help::kInitialCaretOffset);
    EXPECT_GE(n, 20u);
    EXPECT_LE(n, 61u);
    // Roughly the first screen of the view, so opening it shows the top.
    EXPECT_LE(n, 30u);
}

// --- Boxed headings ------------------------------------------------------

struct HeadingCase
{
    std::size_t firstLine;
    const char *text; // between the two bars, 76 characters
};

class HelpHeadingTest : public testing::TestWithParam<HeadingCase>
{};

TEST_P(HelpHeadingTest, IsBoxedAndSeventyEightWide)
{
    const std::vector<std::string> lines = help::helpLines();
    const HeadingCase c = GetParam();
    EXPECT_EQ(kRule, line(lines, c.firstLine));
    EXPECT_EQ(kBar + c.text + kBar, line(lines, c.firstLine + 1));
    EXPECT_EQ(kRule, line(lines, c.firstLine + 2));
    for (std::size_t n = c.firstLine; n < c.firstLine + 3; ++n)
        EXPECT_EQ(78u, help::countCodePoints(line(lines, n))) << "line " << n;
}

INSTANTIATE_TEST_SUITE_P(
    Outline, HelpHeadingTest,
    testing::Values(
        HeadingCase{20, "              Performing a rebounce test with a rebounce plug               "},
        HeadingCase{65, "          Performing a rebounce test with an AVR microcontroller            "},
        HeadingCase{229, "            AVR baud rate calculator  (Asynchronous operation)              "},
        HeadingCase{264, "                  General notes about this Rebounce tool                    "}));

// --- Empty and non-empty lines ---------------------------------------------

struct Range
{
    std::size_t first;
    std::size_t last;
};

// The empty lines of the outline, outside the two listings.
constexpr Range kEmptyRanges[] = {
    {2, 4}, {11, 11}, {17, 19}, {23, 24}, {26, 26}, {30, 30}, {32, 32}, {35, 36},
    {39, 39}, {62, 64}, {68, 69}, {74, 74}, {77, 78}, {80, 80}, {83, 83}, {85, 85},
    {89, 90}, {100, 100}, {104, 104}, {111, 116}, {118, 118}, {151, 156}, {158, 158},
    {221, 228}, {232, 233}, {239, 239}, {242, 242}, {246, 246}, {253, 253}, {256, 256},
    {261, 263}, {267, 268}, {275, 275}, {284, 284}, {287, 288}, {290, 291}, {293, 295},
};
constexpr Range kListings[] = {{119, 150}, {159, 220}};

bool inAny(std::size_t n, const auto &ranges)
{
    for (const Range &r : ranges) {
        if (n >= r.first && n <= r.last)
            return true;
    }
    return false;
}

TEST(HelpDocumentTest, EmptyLinesExactlyWhereTheOutlineHasThem)
{
    const std::vector<std::string> lines = help::helpLines();
    for (std::size_t n = 1; n <= lines.size(); ++n) {
        if (inAny(n, kListings))
            continue; // listings keep their own blank lines
        if (inAny(n, kEmptyRanges))
            EXPECT_EQ("", line(lines, n)) << "line " << n << " should be empty";
        else
            EXPECT_NE("", line(lines, n)) << "line " << n << " should have text";
    }
}

TEST(HelpDocumentTest, ListingsAreFramedByAsteriskComments)
{
    const std::vector<std::string> lines = help::helpLines();
    for (const Range &r : kListings) {
        for (std::size_t n : {r.first, r.first + 6, r.last}) {
            const std::string &text = line(lines, n);
            EXPECT_TRUE(text.size() > 10 && text[0] == '\'' &&
                        text.find_first_not_of('*', 1) == std::string::npos)
                << "line " << n << ": " << text;
        }
    }
}

// --- Fixed lines -----------------------------------------------------------

struct FixedLine
{
    std::size_t number;
    const char *text;
};

class HelpFixedLineTest : public testing::TestWithParam<FixedLine>
{};

TEST_P(HelpFixedLineTest, ReadsExactly)
{
    EXPECT_EQ(GetParam().text, line(help::helpLines(), GetParam().number));
}

INSTANTIATE_TEST_SUITE_P(
    Outline, HelpFixedLineTest,
    testing::Values(
        FixedLine{25, "Hardware requirements:"},
        FixedLine{31, "Software requirements:"},
        FixedLine{33, "- Windows 2000 Workstation or Windows XP."},
        FixedLine{34, "- The program Rebounce.exe. (This tool)."},
        FixedLine{79, "Hardware requirements:"},
        FixedLine{81, "- AVR microcontroller system with a RS-232 transceiver. (RS-232 level shifter)."},
        FixedLine{82, "- Serial cable."},
        FixedLine{84, "Software requirements:"},
        FixedLine{86, "- Windows 2000 Workstation or Windows XP."},
        FixedLine{87, "- The BASCOM AVR compiler."},
        FixedLine{88, "- The program Rebounce.exe. (This tool)."},
        FixedLine{117, "(If needed, you can select and copy any part of this document)."},
        FixedLine{120, "' Bascom rebounce sample code A   (Polling mode)"},
        FixedLine{157, "(If needed, you can select and copy any part of this document)."},
        FixedLine{160, "' Bascom rebounce sample code B   (Interrupt-driven mode)"},
        FixedLine{240, "The calculator shows the following values:"},
        FixedLine{241, "(With U2Xn=0 and U2Xn=1)."},
        FixedLine{243, "- Baud rate closest match"},
        FixedLine{244, "- Baud rate error in %"},
        FixedLine{245, "- UBRRn values (UBRRnH - UBRRnL)"}));

// --- Facts and statements in order -----------------------------------------

struct OrderedCase
{
    const char *name;
    Range range;
    std::vector<const char *> items; // must appear in this order
};

class HelpOrderTest : public testing::TestWithParam<OrderedCase>
{};

// Each item must start on a line after the previous item's line (or further
// along the same line), inside the range.
TEST_P(HelpOrderTest, ItemsAppearInOrderWithinTheirLines)
{
    const std::vector<std::string> lines = help::helpLines();
    const OrderedCase &c = GetParam();
    std::string block;
    for (std::size_t n = c.range.first; n <= c.range.last; ++n)
        block += line(lines, n) + "\n";
    std::size_t from = 0;
    for (const char *item : c.items) {
        const std::size_t at = block.find(item, from);
        ASSERT_NE(std::string::npos, at) << "'" << item << "' missing or out of order in lines "
                                         << c.range.first << "-" << c.range.last;
        from = at + std::string_view(item).size();
    }
}

const OrderedCase kOrderedCases[] = {
    {"Intro", {5, 16}, {"pin 3", "pin 2", "echo plug", "AVR microcontroller", "BASCOM", "terminal emulator"}},
    {"Plug", {27, 29}, {"female DB-9", "pins 2 and 3 shorted", "connected"}},
    {"Procedure", {40, 61},
     {"serial port", "baud rate", "custom baud rate", "'Rebounce'", "1000 bytes", "ABCDEFGHIJABC....",
      "upper box", "lower box (green)", "'PASS'", "'FAIL'", "1000 bytes have come back", "closed at once",
      "minimum", "time-out", "'FAIL'", "port is closed", "300 baud", "3000 ms", "301 to 1201 baud",
      "1000 ms", "1202 baud", "100 ms", "timing figures", "tooltips"}},
    {"Speed", {91, 99},
     {"14.7456 MHz", "921600 baud", "16C950", "PCI card", "115200", "high-speed RS-232 transceiver",
      "MAX232", "120 kbit/s"}},
    {"Uarts", {101, 103}, {"very simple", "hardware UART", "software UART", "help file"}},
    {"FlowControl", {105, 110},
     {"handshaking", "no flow control", "FIFO", "921600 baud", "without losing data", "rebounce plug"}},
    {"Calculator", {234, 238}, {"all the baud rates", "clock", "custom values"}},
    {"UbrrList", {247, 252}, {"4096", "U2Xn = 0", "4096", "U2Xn = 1", "UBRRnH and UBRRnL", "grey UBRRn"}},
    {"Bascom", {257, 260}, {"BASCOM AVR", "\"$BAUD = x\"", "development environment", "error in %"}},
    {"Notes", {269, 274}, {"free", "support", "README", "Windows XP and Windows 2000", "registry", "disk", "Windows API"}},
    {"SampleA", {119, 150},
     {"sample code A", "115200", "MAX232", "120 kbit/s", "921600",
      "$regfile = \"m16def.dat\"", "$crystal = 14745600", "$baud = 115200", "$hwstack = 32",
      "$swstack = 16", "$framesize = 32", "Dim Rx_char As Byte", "\nDo\n", "If Ischarwaiting() = 1 Then",
      "Rx_char = Inkey()", "'Rx_char = Rx_char + 32", "lower case", "Printbin Rx_char", "End If",
      "\nLoop\n", "\nEnd\n"}},
    {"SampleB", {159, 220},
     {"sample code B", "115200", "MAX232", "120 kbit/s", "921600",
      "$regfile = \"m16def.dat\"", "$crystal = 14745600", "$baud = 115200", "$hwstack = 32",
      "$swstack = 16", "$framesize = 32", "4-bit", "DB0 - DB3", "not connected", "R/W", "GND",
      "Contrast", "10k potentiometer", "+5V and GND", "Config Lcd = 16 * 2",
      "Config Lcdpin = Pin , Db4 = Portb.4 , Db5 = Portb.5 , Db6 = Portb.6 , Db7 = Portb.7 , _\n"
      "   E = Portb.3 , Rs = Portb.2\n",
      "Config Lcdmode = Port", "Cursor Off", "Dim Rx_char As Byte", "Dim My_counter As Long",
      "On Urxc Getchar", "Enable Urxc", "Enable Interrupts", "Waitms 100", "Cls", "Lcd \"",
      "Waitms 1000", "\nDo\n", "Cls", "Incr My_counter", "Lcd My_counter", "Waitms 1000", "\nLoop\n",
      "\nGetchar:\n", "Rx_char = Inkey()", "'Rx_char = Rx_char + 32", "Printbin Rx_char",
      "\nReturn", "\nEnd\n"}},
};

INSTANTIATE_TEST_SUITE_P(Outline, HelpOrderTest, testing::ValuesIn(kOrderedCases),
                         [](const testing::TestParamInfo<OrderedCase> &info) { return info.param.name; });

// --- Character counting ----------------------------------------------------

struct CountCase
{
    const char *name;
    std::string_view utf8;
    std::size_t codePoints;
};

class CountCodePointsTest : public testing::TestWithParam<CountCase>
{};

TEST_P(CountCodePointsTest, CountsCharactersNotBytes)
{
    EXPECT_EQ(GetParam().codePoints, help::countCodePoints(GetParam().utf8));
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, CountCodePointsTest,
    testing::Values(CountCase{"Empty", "", 0}, CountCase{"Ascii", "abc", 3},
                    CountCase{"CrLf", "\r\n", 2}, CountCase{"BrokenBar", "\xC2\xA6", 1},
                    CountCase{"BoxLine", "\xC2\xA6 x \xC2\xA6", 5}, CountCase{"Euro", "\xE2\x82\xAC", 1},
                    CountCase{"FourBytes", "\xF0\x9F\x98\x80!", 2}),
    [](const testing::TestParamInfo<CountCase> &info) { return info.param.name; });

// --- Offsets as the view counts them ----------------------------------------

struct PositionCase
{
    const char *name;
    std::string_view document;
    std::size_t offset;
    std::size_t position;
};

class ViewPositionTest : public testing::TestWithParam<PositionCase>
{};

TEST_P(ViewPositionTest, CountsCrLfOnce)
{
    const PositionCase &c = GetParam();
    EXPECT_EQ(c.position, help::viewPositionOfOffset(c.document, c.offset));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, ViewPositionTest,
    testing::Values(PositionCase{"Start", "\r\nab", 0, 0},
                    PositionCase{"BetweenCrAndLf", "\r\nab", 1, 1},
                    PositionCase{"AfterLeadingLineBreak", "\r\nab", 2, 1},
                    PositionCase{"InsideFirstLine", "\r\nab", 3, 2},
                    PositionCase{"SecondLine", "\r\nab\r\ncd", 7, 5},
                    PositionCase{"MultiByteCharacter", "\r\n\xC2\xA6x", 3, 2},
                    PositionCase{"LoneCarriageReturn", "a\rb", 2, 2},
                    PositionCase{"PastTheEnd", "\r\nab", 99, 3}),
    [](const testing::TestParamInfo<PositionCase> &info) { return info.param.name; });

} // namespace
