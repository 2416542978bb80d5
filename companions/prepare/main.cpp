// varnic-prepare: a Newick tree and a trait table in, varnic's data file
// and control file out.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "companions/common/cli.h"
#include "companions/common/names.h"
#include "companions/prepare/prepare.h"

namespace {

const char* const HELP =
    "Usage: varnic-prepare --tree TREE --traits TABLE --out PREFIX [--columns A,B,...]\n"
    "\n"
    "Turns a rooted Newick tree and a trait table into the input of varnic:\n"
    "  PREFIX.txt          the data file (the tree node by node, with the states)\n"
    "  PREFIX.ctl          a control file naming PREFIX.txt and the results file\n"
    "                      PREFIX.results; run it with  varnic PREFIX.ctl\n"
    "  PREFIX.states.tsv   for every trait column, the state number of every label\n"
    "  PREFIX.names.tsv    tree name and data-file name of every renamed tip (only\n"
    "                      written when a tip had to be renamed)\n"
    "The control file names the other files without their folder: run varnic in\n"
    "the folder that holds them.\n"
    "\n"
    "TREE   one rooted tree in Newick format, ending with ';'. Labels may be quoted\n"
    "       ('a b' or \"a b\"), text in [square brackets] is ignored, and branch\n"
    "       lengths may use any decimal or scientific notation (1.5e-3). Every\n"
    "       branch needs a length. Internal node labels are used as node names when\n"
    "       they are valid, unique names that are not numbers (numbers are taken\n"
    "       for support values); other internal nodes are named n1, n2, ...\n"
    "       Nodes with more than two children (the root too, as in unrooted trees)\n"
    "       are split into pairs joined by zero-length branches; nodes with a\n"
    "       single child are removed, their branch added to the child's.\n"
    "TABLE  CSV or TSV with a header row (the separator is the header's tab, else\n"
    "       its comma, else its semicolon; cells may be in double quotes). The\n"
    "       first column names the tips, every further column is one trait with\n"
    "       2 to 6 states, written as text labels or integers. Empty cells, '?' and\n"
    "       'NA' are missing values. Every tip needs a row and every row a tip; a\n"
    "       name with blanks matches one with underscores in their place.\n"
    "--columns A,B,...   write only these trait columns, in this order (default:\n"
    "       every column after the first)\n"
    "\n"
    "States are numbered 0, 1, ... in the sorted order of their labels (by value\n"
    "when every label of the column is an integer). Tip names are made valid for\n"
    "varnic: characters other than printable ASCII, blanks, commas, quotes and '#'\n"
    "become '_', names are cut to 39 characters, and clashes get _2, _3, ...\n"
    "Branch lengths are written as plain decimals, exactly as given (beyond 40\n"
    "decimals they are rounded).\n"
    "\n"
    "Exit status: 0 when the files were written, 1 when the input was refused\n"
    "(every problem is named on standard error) or a file could not be read or written.\n";

bool same_file(const std::string& a, const std::string& b) {
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

int refuse(const std::string& message) {
  std::fprintf(stderr, "varnic-prepare: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tree_path, table_path, prefix, columns;
  bool has_columns = false;
  std::string error;
  switch (companion::ParseOptions(argc, argv,
                                  {{"--tree", &tree_path},
                                   {"--traits", &table_path},
                                   {"--out", &prefix},
                                   {"--columns", &columns, &has_columns}},
                                  error)) {
    case companion::Options::help:
      std::fputs(HELP, stdout);
      return 0;
    case companion::Options::refused:
      return refuse(error);
    case companion::Options::ok:
      break;
  }
  if (tree_path.empty() || table_path.empty() || prefix.empty())
    return refuse("--tree, --traits and --out are all needed (--help explains them)");

  companion::PrepareRequest request;
  request.tree_file = tree_path;
  request.table_file = table_path;
  const std::size_t slash = prefix.rfind('/');
  request.base = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "" : prefix.substr(0, slash + 1);
  if (has_columns) {
    request.columns = companion::SplitTrimmed(columns, ',');
    for (const auto& c : request.columns)
      if (c.empty()) return refuse("--columns holds an empty column name");
  }

  if (!companion::ReadFile(tree_path, request.tree_text, error) || !companion::ReadFile(table_path, request.table_text, error))
    return refuse(error);

  const std::string data_path = prefix + ".txt", control_path = prefix + ".ctl";
  const std::string states_path = prefix + ".states.tsv", names_path = prefix + ".names.tsv";
  for (const std::string& out : {data_path, control_path, states_path, names_path})
    for (const std::string& in : {tree_path, table_path})
      if (same_file(out, in)) return refuse("'" + out + "' is an input file; choose another --out prefix");

  companion::PrepareResult result;
  std::vector<std::string> errors;
  if (!companion::Prepare(request, result, errors)) {
    std::fprintf(stderr, "varnic-prepare: refused:\n");
    for (const auto& e : errors) std::fprintf(stderr, "  %s\n", e.c_str());
    return 1;
  }

  if (!companion::WriteFile(data_path, result.data, error) || !companion::WriteFile(control_path, result.control, error) ||
      !companion::WriteFile(states_path, result.states, error))
    return refuse(error);
  bool stale_names = false;
  if (!result.names.empty()) {
    if (!companion::WriteFile(names_path, result.names, error)) return refuse(error);
  } else if (std::remove(names_path.c_str()) == 0) {
    // An old mapping would describe renamings this data file does not have.
    stale_names = true;
  }

  std::printf("read %d tips from '%s' and %d trait column%s from '%s'\n", result.tips, tree_path.c_str(),
              result.traits, result.traits == 1 ? "" : "s", table_path.c_str());
  for (const auto& note : result.notes) std::printf("%s\n", note.c_str());
  if (stale_names) std::printf("removed the old '%s': no tip was renamed this time\n", names_path.c_str());
  if (result.names.empty())
    std::printf("wrote %s, %s and %s\n", data_path.c_str(), control_path.c_str(), states_path.c_str());
  else
    std::printf("wrote %s, %s, %s and %s\n", data_path.c_str(), control_path.c_str(), states_path.c_str(),
                names_path.c_str());
  std::printf("%d tips, %d internal nodes; answer %d at varnic's number-of-states prompt\n", result.tips,
              result.internal, result.most_states);
  std::printf("next: %sprintf '%d\\n' | varnic %s.ctl\n", folder.empty() ? "" : ("cd " + folder + " && ").c_str(),
              result.most_states, request.base.c_str());
  return 0;
}
