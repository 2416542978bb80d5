// Reading a trait table exported from a spreadsheet: CSV or TSV with a
// header row. The separator is the first line's tab if it has one, else its
// comma, else its semicolon (spreadsheets set to a decimal comma write those).
// Cells may be quoted with double quotes ("" stands for a quote, and a quoted
// cell may span lines); every cell is trimmed of blanks.
#pragma once

#include <string>
#include <vector>

namespace companion {

struct Table {
  char separator = ',';
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;  // each as long as the header
  std::vector<int> lines;                      // line of the file where each row begins
};

// False, with a message naming the line, when the text is not such a table.
bool ReadTable(const std::string& text, Table& table, std::string& error);

// Empty cells, "?" and "NA" stand for a missing value.
bool IsMissing(const std::string& cell);

}  // namespace companion
