#include "driver/control.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"
#include "driver/lineio.h"
#include "driver/settings.h"
#include "session/params.h"

namespace varnic {

const char* const commands[] = {"datafile", "outfile", "scaling", "restrict",
                                "step",     "converge", "rate",    "number",
                                "partial",  "interactive", "caution", nullptr};

namespace {

enum Keyword {
  DATAFILE, OUTFILE, SCALING, RESTRICT, STEP, CONVERGE, RATE, NUMBER, PARTIAL, INTERACTIVE, CAUTION
};

const char* const SEPARATORS = "\f\n\r\t\v =";

bool is_separator(char c) { return c != '\0' && std::strchr(SEPARATORS, c) != nullptr; }

int find_keyword(const char* const* keywords, const std::string& token) {
  for (int i = 0; keywords[i]; i++)
    if (token == keywords[i]) return i;
  return -1;
}

// Truncation toward zero; beyond the int range gives the largest int.
int truncate_to_int(double v) {
  if (!(v < static_cast<double>(INT_MAX))) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

// Sets a file name from the line's word; returns the flag.
int take_file_name(std::string& target, const std::string& word) {
  target = word;
  int usable = TruncFileName(target);
  // A name too long for its slot is refused whole, never cut into another name.
  if (word.size() > WORD_MAX) {
    target.clear();
    usable = 0;
  }
  return usable;
}

void argument_error(int line, const std::string& path) {
  std::printf("Error in argument - line %d in '%s'\n", line, path.c_str());
}

void apply_keyword(int keyword, int param1, int param2, double value, const std::string& word,
                   int line, const std::string& path) {
  switch (keyword) {
    case DATAFILE:
    case OUTFILE: {
      int& flag = keyword == DATAFILE ? inflag : outflag;
      flag = take_file_name(keyword == DATAFILE ? infile : outfile, word);
      if (!flag) std::printf("Error in filename - line %d in '%s'\n", line, path.c_str());
      break;
    }
    case SCALING:
    case PARTIAL:
    case INTERACTIVE: {
      const int v = truncate_to_int(value);
      const int highest = keyword == INTERACTIVE ? 2 : 1;
      if (v < 0 || v > highest) {
        argument_error(line, path);
        break;
      }
      (keyword == SCALING ? scaling : keyword == PARTIAL ? partial : interactive) = v;
      break;
    }
    case STEP:
    case CONVERGE:
    case RATE:
      if (value < 0) {
        argument_error(line, path);
        break;
      }
      (keyword == STEP ? stepsize : keyword == CONVERGE ? converge : rate) = value;
      break;
    case NUMBER:
    case CAUTION:
      if (value < 0) {
        argument_error(line, path);
        break;
      }
      if (keyword == NUMBER) {
        number = truncate_to_int(value);
      } else {
        caution = truncate_to_int(value);
        if (caution > 4) std::printf("Warning - line %d sets 'caution' to a value > 4\n", line);
      }
      break;
    case RESTRICT:
      if (param1 < 0) {
        std::printf("Error in argument to 'restrict' - line %d in '%s'\n", line, path.c_str());
        break;
      }
      Restrict(param1, param2, value, 1, line, path.c_str());
      break;
    default:
      std::printf("Error CC%d at line %d in '%s' - Please report this error\n", keyword, line,
                  path.c_str());
  }
}

}  // namespace

int Parse(std::string& line, const char* const* keywords, int& keyword, int& param1, int& param2,
          double& value, std::string& word) {
  keyword = param1 = param2 = -1;
  value = -1.0;
  word.clear();
  std::size_t hash = line.find('#');
  if (hash != std::string::npos) line.erase(hash);
  // Text after a NUL byte is not part of the line.
  line.resize(std::strlen(line.c_str()));

  std::size_t pos = 0;
  auto skip_separators = [&] {
    while (pos < line.size() && is_separator(line[pos])) pos++;
  };
  skip_separators();
  if (pos >= line.size()) return 0;

  while (pos < line.size()) {
    std::size_t end = pos;
    while (end < line.size() && !is_separator(line[end])) end++;
    const std::string token = line.substr(pos, end - pos);
    pos = end;
    skip_separators();

    bool taken = false;
    if (keyword < 0) {
      int k = find_keyword(keywords, token);
      if (k >= 0) {
        keyword = k;
        taken = true;
      }
    }
    if (param1 < 0 || param2 < 0) {
      int p = param_index(token);
      if (p >= 0) {
        (param1 < 0 ? param1 : param2) = p;
        taken = true;
      }
    }
    if (value < 0 && ((token[0] >= '0' && token[0] <= '9') || token[0] == '.')) {
      value = std::atof(token.c_str());
      taken = true;
    }
    if (!taken && word.empty()) word = token;
  }
  if (keyword >= 0) return 3;
  return param1 >= 0 ? 2 : 1;
}

int TruncFileName(std::string& name) {
  std::size_t cut = 0;
  while (cut < name.size() && static_cast<unsigned char>(name[cut]) > 32) cut++;
  name.erase(cut);
  return name.empty() ? 0 : 1;
}

void ReadControl(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) File_abt(path, 0);
  std::string line, word;
  int line_number = 0;
  while (read_piece(file, line, CONTROL_PIECE)) {
    line_number++;
    int keyword, param1, param2;
    double value;
    switch (Parse(line, commands, keyword, param1, param2, value, word)) {
      case 1:
        std::printf("Warning - Cannot understand line %d in '%s' - ignored\n", line_number,
                    path.c_str());
        break;
      case 2:
        // A start value names one parameter and gives one number.
        if (param2 >= 0 || !word.empty() || value < 0) {
          argument_error(line_number, path);
          break;
        }
        startvec[param1] = value;
        startflag[param1] = 1;
        break;
      case 3:
        apply_keyword(keyword, param1, param2, value, word, line_number, path);
        break;
      default:
        break;
    }
  }
  std::fclose(file);
}

}  // namespace varnic
