// What varnic's data file accepts as a node name, and small text helpers
// shared by the companion programs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace companion {

// varnic stores names in 40-character fields.
constexpr std::size_t NAME_MAX_CHARS = 39;
// varnic reads at most this many characters of a data-file line, line end included.
constexpr std::size_t DATA_LINE_MAX = 2558;

// A character that may appear in a name written without quotes: printable
// ASCII other than the comma (a separator), the quotes (which start quoted
// names) and '#' (which starts a comment). Bytes of 128 and more are left out
// because varnic's reader may take them for blanks.
bool IsNameChar(char c);

// True when the text can be written as a name of the data file as it is.
bool ValidName(const std::string& name);

// The text between separators, each piece trimmed of blanks.
std::vector<std::string> SplitTrimmed(const std::string& text, char separator);

std::string Trim(const std::string& text);

// The text with control characters (tabs, line ends) replaced by blanks, for
// one-line messages and tab-separated files.
std::string OneLine(const std::string& text);

}  // namespace companion
