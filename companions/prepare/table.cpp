#include "companions/prepare/table.h"

#include <algorithm>

#include "companions/common/names.h"

namespace companion {

bool IsMissing(const std::string& cell) { return cell.empty() || cell == "?" || cell == "NA"; }

namespace {

char choose_separator(const std::string& text, std::size_t start) {
  bool comma = false, semicolon = false, quoted = false;
  for (std::size_t i = start; i < text.size(); i++) {
    const char c = text[i];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n') break;
    if (c == '\t') return '\t';
    comma = comma || c == ',';
    semicolon = semicolon || c == ';';
  }
  return comma || !semicolon ? ',' : ';';
}

bool all_empty(const std::vector<std::string>& cells) {
  for (const std::string& c : cells)
    if (!c.empty()) return false;
  return true;
}

}  // namespace

bool ReadTable(const std::string& text, Table& table, std::string& error) {
  table = Table();
  error.clear();
  std::size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // byte order mark
  table.separator = choose_separator(text, pos);
  const char sep = table.separator;

  int line = 1;
  bool have_header = false;
  while (pos < text.size()) {
    const int record_line = line;
    std::vector<std::string> cells;
    std::string cell;
    bool record_done = false;
    while (!record_done) {
      // One cell, quoted or not, up to a separator or the end of the line.
      std::size_t at = pos;
      while (at < text.size() && (text[at] == ' ' || (text[at] == '\t' && sep != '\t'))) at++;
      if (at < text.size() && text[at] == '"') {
        const int open_line = line;
        pos = at + 1;
        for (;;) {
          if (pos >= text.size()) {
            error = "a quoted cell that begins on line " + std::to_string(open_line) + " is never closed";
            return false;
          }
          const char c = text[pos++];
          if (c == '"') {
            if (pos < text.size() && text[pos] == '"') {
              cell += '"';
              pos++;
              continue;
            }
            break;
          }
          if (c == '\n') line++;
          cell += c;
        }
      }
      // Unquoted text, or what follows a closing quote, up to the separator.
      while (pos < text.size() && text[pos] != sep && text[pos] != '\n') cell += text[pos++];
      if (pos < text.size() && text[pos] == sep) {
        pos++;
      } else {
        record_done = true;
        if (pos < text.size()) {
          pos++;
          line++;
        }
      }
      cells.push_back(Trim(cell));
      cell.clear();
    }
    if (all_empty(cells)) continue;
    if (!have_header) {
      // Spreadsheets often close every line with a separator, which adds
      // columns with no name and no values; those are dropped below.
      table.header = cells;
      have_header = true;
      continue;
    }
    table.rows.push_back(cells);
    table.lines.push_back(record_line);
  }
  if (!have_header) {
    error = "the table is empty: it needs a header row and one row per tip";
    return false;
  }

  // Drop trailing columns that have neither a name nor a value.
  std::size_t width = table.header.size();
  for (const auto& row : table.rows) width = std::max(width, row.size());
  while (width > 0) {
    const std::size_t c = width - 1;
    bool used = c < table.header.size() && !table.header[c].empty();
    for (const auto& row : table.rows) used = used || (c < row.size() && !row[c].empty());
    if (used) break;
    width--;
  }
  if (width < table.header.size()) table.header.resize(width);
  if (table.header.size() < 2) {
    error = "the table has no trait column: the header row names only one column (the separator is taken from "
            "the header row: a tab, else a comma, else a semicolon)";
    return false;
  }
  for (std::size_t r = 0; r < table.rows.size(); r++) {
    auto& row = table.rows[r];
    while (row.size() > width && row.back().empty()) row.pop_back();
    if (row.size() != table.header.size()) {
      error = "row '" + OneLine(row[0]) + "' (line " + std::to_string(table.lines[r]) + ") has " +
              std::to_string(row.size()) + " cells, but the header row has " +
              std::to_string(table.header.size());
      return false;
    }
  }
  return true;
}

}  // namespace companion
