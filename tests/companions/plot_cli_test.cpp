// varnic-plot run as a user runs it: from the example tree through
// varnic-prepare and varnic's testall to a figure, rendered to PNG.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>

#include "companions/common/probfile.h"
#include "harness.h"
#include "pies.h"
#include "xml.h"

namespace companions_test {
namespace {

// The example prepared and its state probabilities computed by varnic.
void analyse_example(const Scratch& s) {
  s.copy_from_source("examples/newick/primates.nwk", "primates.nwk");
  s.copy_from_source("examples/newick/primates.csv", "primates.csv");
  const Outcome prepared = s.prepare({"--tree", "primates.nwk", "--traits", "primates.csv", "--out", "primates"});
  ASSERT_EQ(prepared.status, 0) << prepared.err;
  const Outcome analysed = s.varnic({"primates.ctl"}, "2\ntestall primates.probs.tsv\n");
  ASSERT_EQ(analysed.status, 0) << analysed.out << analysed.err;
  ASSERT_TRUE(s.exists("primates.probs.tsv")) << analysed.out;
}

XmlDocument parse_svg(const std::string& svg) {
  XmlDocument doc;
  std::string error;
  EXPECT_TRUE(ParseXml(svg, doc, error)) << error;
  return doc;
}

// Width and height of a PNG from its header chunk.
bool png_size(const std::string& png, std::uint32_t& width, std::uint32_t& height) {
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0) return false;
  auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; i++) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
    return v;
  };
  width = be32(16);
  height = be32(20);
  return true;
}

TEST(PlotProgram, HelpExplainsEveryArgument) {
  Scratch s;
  const Outcome r = s.plot({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"--data DATAFILE", "--probs PROBFILE", "--out FIGURE.svg", "--trait N",
                           "--approach global|local", "--colours C0,C1", "--states", "--names", "500 tips",
                           "Exit status"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST(PlotProgram, DrawsTheProbabilitiesThatVarnicComputed) {
  Scratch s;
  analyse_example(s);
  companion::ProbFile probs;
  std::string error;
  ASSERT_TRUE(companion::ReadProbFile(s.read("primates.probs.tsv"), probs, error)) << error;
  ASSERT_EQ(probs.rows.size(), 2u);

  struct Case {
    const char* trait;
    const char* approach;
    const char* title;
  };
  const Case cases[] = {
      {"0", "global", "Ancestral states of trait 0 (activity), global approach"},
      {"1", "local", "Ancestral states of trait 1 (habitat), local approach"},
  };
  for (const auto& c : cases) {
    const Outcome r = s.plot({"--data", "primates.txt", "--probs", "primates.probs.tsv", "--out", "figure.svg",
                              "--trait", c.trait, "--approach", c.approach, "--states", "primates.states.tsv",
                              "--names", "primates.names.tsv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = s.read("figure.svg");
    const XmlDocument doc = parse_svg(svg);
    EXPECT_NE(svg.find(c.title), std::string::npos) << c.title;
    EXPECT_NE(svg.find(">Homo sapiens</text>"), std::string::npos);

    std::vector<Pie> pies;
    ASSERT_TRUE(ReadPies(doc, pies, error)) << error;
    EXPECT_EQ(pies.size(), 10u);  // 11 tips, 10 internal nodes
    const companion::ProbRow& row = probs.rows[static_cast<std::size_t>(std::atoi(c.trait))];
    const std::vector<double>& p0 = std::string(c.approach) == "local" ? row.local : row.global;
    std::map<std::string, double> expected;
    for (std::size_t k = 0; k < probs.nodes.size(); k++) expected[probs.nodes[k]] = p0[k];
    for (const Pie& pie : pies) {
      ASSERT_TRUE(expected.count(pie.node)) << pie.node;
      EXPECT_NEAR(pie.drawn_p0, expected[pie.node], 1e-3) << pie.node;
    }
  }
}

TEST(PlotProgram, FigureRendersToPngWithARealRenderer) {
  Scratch s;
  analyse_example(s);
  const Outcome r = s.plot({"--data", "primates.txt", "--probs", "primates.probs.tsv", "--out", "figure.svg"});
  ASSERT_EQ(r.status, 0) << r.err;
  const XmlDocument doc = parse_svg(s.read("figure.svg"));
  const double width = std::atof(doc.elements[0].attributes.at("width").c_str());
  const double height = std::atof(doc.elements[0].attributes.at("height").c_str());

  const Outcome rendered = s.run("rsvg-convert", {"-o", "figure.png", "figure.svg"});
  ASSERT_NE(rendered.status, 127) << "rsvg-convert is not installed: install librsvg2-bin (scripts/setup.sh does)";
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  const std::string png = s.read("figure.png");
  std::uint32_t w = 0, h = 0;
  ASSERT_TRUE(png_size(png, w, h)) << "not a PNG";
  EXPECT_EQ(w, static_cast<std::uint32_t>(std::ceil(width)));
  EXPECT_EQ(h, static_cast<std::uint32_t>(std::ceil(height)));

  // An empty page of the same size compresses to almost nothing; the
  // drawing must not.
  s.write("blank.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" +
                           std::to_string(h) + "\"><rect width=\"100%\" height=\"100%\" fill=\"white\"/></svg>");
  ASSERT_EQ(s.run("rsvg-convert", {"-o", "blank.png", "blank.svg"}).status, 0);
  EXPECT_GT(png.size(), 5 * s.read("blank.png").size());
}

struct Refusal {
  const char* what;
  std::vector<std::string> args;
  const char* message;
};

TEST(PlotProgram, RefusesBadInputWithAClearMessage) {
  Scratch s;
  analyse_example(s);
  s.copy_from_source("examples/five.txt", "five.txt");
  const std::vector<std::string> base = {"--data", "primates.txt", "--probs", "primates.probs.tsv", "--out", "f.svg"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const Refusal cases[] = {
      {"probabilities of another data file",
       {"--data", "five.txt", "--probs", "primates.probs.tsv", "--out", "f.svg"},
       "varnic-plot: primates.probs.tsv: the probability file has 21 nodes and the data file 9 (the root included): "
       "the probability file was not written for this data file"},
      {"a trait row that does not exist", with({"--trait", "5"}),
       "varnic-plot: primates.probs.tsv: the probability file has no row for trait 5 (it has traits 0 to 1)"},
      {"a trait that is not a number", with({"--trait", "x"}), "--trait needs a trait number (0, 1, ...), not 'x'"},
      {"an unknown approach", with({"--approach", "both"}), "--approach is 'global' or 'local', not 'both'"},
      {"one colour", with({"--colours", "red"}), "--colours needs two colours, C0,C1"},
      {"a word that is no colour", with({"--colours", "red,blurple"}), "'blurple' is not a colour"},
      {"a data file that is not one", {"--data", "primates.probs.tsv", "--probs", "primates.probs.tsv", "--out", "f.svg"},
       "varnic-plot: primates.probs.tsv: line 1 does not begin with the numbers of species and traits"},
      {"a probability file that is not one", {"--data", "primates.txt", "--probs", "primates.txt", "--out", "f.svg"},
       "varnic-plot: primates.txt: line 1 is not the header of a state-probability file"},
      {"a missing file", {"--data", "nope.txt", "--probs", "primates.probs.tsv", "--out", "f.svg"},
       "cannot read 'nope.txt'"},
      {"missing arguments", {"--data", "primates.txt"}, "--data, --probs and --out are all needed"},
      {"an unknown argument", with({"--size", "3"}), "unknown argument '--size'"},
      {"a states file that is not one", with({"--states", "primates.names.tsv"}),
       "primates.names.tsv: line 1 is not the header of a states file"},
  };
  for (const auto& c : cases) {
    const Outcome r = s.plot(c.args);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\ngot: " << r.err;
    EXPECT_FALSE(s.exists("f.svg")) << c.what;
  }
}

TEST(PlotProgram, UsesTheColoursGiven) {
  Scratch s;
  analyse_example(s);
  const Outcome r = s.plot({"--data", "primates.txt", "--probs", "primates.probs.tsv", "--out", "f.svg", "--colours",
                            "#1b9e77,purple"});
  ASSERT_EQ(r.status, 0) << r.err;
  const XmlDocument doc = parse_svg(s.read("f.svg"));
  const std::vector<int> zero = WithClass(doc, "state0"), one = WithClass(doc, "state1");
  ASSERT_FALSE(zero.empty());
  ASSERT_FALSE(one.empty());
  for (int e : zero) EXPECT_EQ(doc.elements[e].attributes.at("fill"), "#1b9e77");
  for (int e : one) EXPECT_EQ(doc.elements[e].attributes.at("fill"), "purple");
}

}  // namespace
}  // namespace companions_test
