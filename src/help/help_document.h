#pragma once

// The help document shown in the main window's help view: plain text of
// 295 lines, UTF-8, laid out for a fixed-pitch font (the boxed headings are
// 78 characters wide and only line up in one).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace help {

// Number of lines of the document.
inline constexpr std::size_t kHelpLineCount = 295;

// Line 184 (a comment of sample code B) is the longest line; the help view
// must be wide enough for it.
inline constexpr std::size_t kLongestLineNumber = 184;
inline constexpr std::size_t kLongestLineLength = 89;

// Where the help view puts the caret when it opens, in characters of the
// document returned by buildHelpDocument() (leading CR LF included).  It
// falls inside the first section, so the view stays at the top.
inline constexpr std::size_t kInitialCaretOffset = 1274;

// The document's lines, line 1 first, without line ends.  Each call returns
// a fresh copy; the text is UTF-8 (the heading boxes use U+00A6).
std::vector<std::string> helpLines();

// The whole document as the help view shows it: every line appended as
// CR LF followed by its text.  The result therefore begins with CR LF (the
// view shows an empty line above the title) and has no CR LF after the last
// line.
std::string buildHelpDocument();

// Number of Unicode code points in a UTF-8 string, i.e. its length in
// characters as the help view counts them (every character of the document
// lies in the Basic Multilingual Plane, so this is also its QString length).
// Malformed sequences are counted one per lead or stray byte, never throw.
std::size_t countCodePoints(std::string_view utf8);

// Converts a character offset in a document of this kind (CR LF counted as
// two characters, as the text box of the original window counted them) into
// a position in a text view that holds each CR LF as one line break.
// Offsets past the end give the view's end position; an offset between the
// CR and the LF of a pair gives the start of the following line.
std::size_t viewPositionOfOffset(std::string_view document, std::size_t offset);

} // namespace help
