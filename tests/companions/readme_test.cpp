// The commands of the README's walk from a Newick tree and a spreadsheet to
// a figure, run as they are written there.

#include <gtest/gtest.h>

#include <unistd.h>

#include "harness.h"

namespace companions_test {
namespace {

const char* const SECTION = "## From Newick and a spreadsheet to a figure\n";

std::string section_commands() {
  const std::string readme = source_file("README.md");
  const std::size_t start = readme.find(SECTION);
  if (start == std::string::npos) return "";
  const std::size_t block = readme.find("```sh\n", start);
  const std::size_t next_section = readme.find("\n## ", start + 1);
  if (block == std::string::npos || block > next_section) return "";
  const std::size_t body = block + 6;
  return readme.substr(body, readme.find("```", body) - body);
}

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

TEST(Readme, WalkFromNewickToFigureWorksAsWritten) {
  const std::string commands = section_commands();
  ASSERT_FALSE(commands.empty()) << "no sh block in the README section";
  for (const char* program : {"varnic-prepare", "varnic primates.ctl", "varnic-plot", "rsvg-convert"})
    EXPECT_NE(commands.find(program), std::string::npos) << program;

  // The commands run from the top of a repository: build/ holds the
  // programs, examples/ the inputs.
  Scratch s;
  ASSERT_EQ(symlink(folder_of(VARNIC_PREPARE_BINARY).c_str(), s.path("build").c_str()), 0);
  ASSERT_EQ(symlink((std::string(VARNIC_SOURCE_DIR) + "/examples").c_str(), s.path("examples").c_str()), 0);
  const Outcome r = s.run("bash", {"-e", "-c", commands});
  ASSERT_EQ(r.status, 0) << "commands:\n" << commands << "\nout:\n" << r.out << "\nerr:\n" << r.err;
  for (const char* file : {"primates.txt", "primates.ctl", "primates.states.tsv", "primates.names.tsv",
                           "primates.results", "primates.probs.tsv", "activity.svg", "activity.png"})
    EXPECT_TRUE(s.exists(std::string("analysis/") + file)) << file;
  EXPECT_NE(r.out.find("State 0 probabilities written to 'primates.probs.tsv'"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("wrote activity.svg: trait 0, global approach"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace companions_test
