// Trait tables as spreadsheets export them.

#include <gtest/gtest.h>

#include "companions/prepare/table.h"

namespace companion {
namespace {

Table read_ok(const std::string& text) {
  Table table;
  std::string error;
  EXPECT_TRUE(ReadTable(text, table, error)) << error;
  return table;
}

using Rows = std::vector<std::vector<std::string>>;

struct TableCase {
  const char* feature;
  const char* text;
  char separator;
  std::vector<std::string> header;
  Rows rows;
};

TEST(ReadTable, ReadsEachFeature) {
  const TableCase cases[] = {
      {"CSV", "tip,diet,size\nA,fruit,1\nB,leaves,2\n", ',', {"tip", "diet", "size"},
       {{"A", "fruit", "1"}, {"B", "leaves", "2"}}},
      {"TSV with blanks inside cells", "tip\tdiet\nHomo sapiens\tfruit and meat\n", '\t', {"tip", "diet"},
       {{"Homo sapiens", "fruit and meat"}}},
      {"semicolons", "tip;x\nA;1,5\n", ';', {"tip", "x"}, {{"A", "1,5"}}},
      {"quoted cells with separators, quotes and line ends", "tip,note\n\"A, the first\",\"say \"\"hi\"\"\"\nB,\"two\nlines\"\n",
       ',', {"tip", "note"}, {{"A, the first", "say \"hi\""}, {"B", "two\nlines"}}},
      {"byte order mark and CRLF line ends", "\xEF\xBB\xBFtip,x\r\nA,0\r\nB,1\r\n", ',', {"tip", "x"},
       {{"A", "0"}, {"B", "1"}}},
      {"blank lines and rows of empty cells skipped", "tip,x\n\nA,0\n,\n\nB,1", ',', {"tip", "x"},
       {{"A", "0"}, {"B", "1"}}},
      {"blanks around cells trimmed", "tip , x\n  A ,  0 \n", ',', {"tip", "x"}, {{"A", "0"}}},
      {"a separator closing every line", "tip,x,\nA,0,\nB,1,\n", ',', {"tip", "x"}, {{"A", "0"}, {"B", "1"}}},
      {"missing values kept as written", "tip,x,y\nA,,?\nB,NA,1\n", ',', {"tip", "x", "y"},
       {{"A", "", "?"}, {"B", "NA", "1"}}},
      {"no line end at the end", "tip\tx\nA\t0", '\t', {"tip", "x"}, {{"A", "0"}}},
  };
  for (const auto& c : cases) {
    const Table table = read_ok(c.text);
    EXPECT_EQ(table.separator, c.separator) << c.feature;
    EXPECT_EQ(table.header, c.header) << c.feature;
    EXPECT_EQ(table.rows, c.rows) << c.feature;
  }
}

TEST(ReadTable, KnowsTheLineOfEveryRow) {
  const Table table = read_ok("tip,note\nA,\"x\ny\"\n\nB,z\n");
  EXPECT_EQ(table.lines, (std::vector<int>{2, 5}));
}

TEST(IsMissing, EmptyQuestionMarkAndNA) {
  for (const char* cell : {"", "?", "NA"}) EXPECT_TRUE(IsMissing(cell)) << "'" << cell << "'";
  for (const char* cell : {"0", "na", "N/A", "-", "none"}) EXPECT_FALSE(IsMissing(cell)) << cell;
}

struct ErrorCase {
  const char* text;
  const char* message;
};

TEST(ReadTable, RefusesTablesItCannotRead) {
  const ErrorCase cases[] = {
      {"", "the table is empty"},
      {"\n\n", "the table is empty"},
      {"tip\nA\nB\n", "the table has no trait column"},
      {"tip,x,y\nA,0,1\nB,1\n", "row 'B' (line 3) has 2 cells, but the header row has 3"},
      {"tip,x\nA,0,1\n", "row 'A' (line 2) has 3 cells, but the header row has 2"},
      {"tip,x\nA,\"0\n", "a quoted cell that begins on line 2 is never closed"},
  };
  for (const auto& c : cases) {
    Table table;
    std::string error;
    EXPECT_FALSE(ReadTable(c.text, table, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\ngot: " << error;
  }
}

}  // namespace
}  // namespace companion
