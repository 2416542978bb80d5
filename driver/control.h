// The control file and the line tokenizer it shares with the interactive
// session.
#pragma once

#include <string>

namespace varnic {

// Longest file name the control file (and the session's word slot) accepts.
constexpr std::size_t WORD_MAX = 51;
// Control-file lines are read this many characters at a time.
constexpr std::size_t CONTROL_PIECE = 255;

// Keywords of the control file, in index order, closed by a null entry.
extern const char* const commands[];

// Splits line into tokens (cutting it at '#') and classifies them against the
// null-terminated keyword list and the parameter names. Returns 0 for an
// empty line, 1 with neither keyword nor parameter, 2 with a parameter but no
// keyword, 3 with a keyword. The word is never cut short: callers check its
// length against the slot they copy it into.
int Parse(std::string& line, const char* const* keywords, int& keyword, int& param1, int& param2,
          double& value, std::string& word);

// Cuts name at its first blank or control character; 1 if something is left.
int TruncFileName(std::string& name);

// Reads the control file at path and applies every line.
void ReadControl(const std::string& path);

}  // namespace varnic
