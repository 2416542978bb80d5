#include "companions/common/names.h"

namespace companion {

bool IsNameChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u > 32 && u < 127 && c != ',' && c != '\'' && c != '"' && c != '#';
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > NAME_MAX_CHARS) return false;
  for (char c : name)
    if (!IsNameChar(c)) return false;
  return true;
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitTrimmed(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    pieces.push_back(Trim(text.substr(start, at == std::string::npos ? std::string::npos : at - start)));
    if (at == std::string::npos) return pieces;
    start = at + 1;
  }
}

std::string OneLine(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  return out;
}

}  // namespace companion
