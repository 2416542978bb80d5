// The tree figure, checked element by element.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

#include "companions/common/datafile.h"
#include "companions/common/probfile.h"
#include "companions/plot/figure.h"
#include "pies.h"
#include "xml.h"

namespace companion {
namespace {

using companions_test::Pie;
using companions_test::XmlDocument;

const char* const FIVE =
    "5 1\n"
    "A    n1   0.5   0\n"
    "B    n1   0.5   0\n"
    "C    n2   1.0   1\n"
    "n1   n2   0.3\n"
    "D    n3   0.8   1\n"
    "n2   root 0.4\n"
    "n3   root 0.6\n"
    "E    n3   0.7   0\n";

DataFile data_of(const std::string& text) {
  DataFile file;
  std::string error;
  EXPECT_TRUE(ReadDataFile(text, file, error)) << error;
  return file;
}

// A probability file as testall writes it: internal nodes from the maps,
// terminal nodes 1 in state 0 and 0 otherwise, one row per trait.
std::string probs_text(const DataFile& file, const std::map<std::string, double>& global,
                       const std::map<std::string, double>& local, const std::string& restrictions = "none\n") {
  std::string text = "trait";
  for (const char* tail : {"_glob", "_loc"})
    for (const DataNode& n : file.nodes) text += "\t" + n.name + tail;
  text += "\n";
  for (int t = 0; t < file.traits; t++) {
    text += std::to_string(t);
    for (const auto* values : {&global, &local})
      for (const DataNode& n : file.nodes) {
        char cell[32];
        if (n.child1 >= 0) std::snprintf(cell, sizeof cell, "\t%g", values->at(n.name));
        else std::snprintf(cell, sizeof cell, "\t%g", n.values[t] == 0 ? 1.0 : 0.0);
        text += cell;
      }
    text += "\n";
  }
  return text + "\nuser_defined_restrictions\n" + restrictions;
}

ProbFile probs_of(const std::string& text) {
  ProbFile probs;
  std::string error;
  EXPECT_TRUE(ReadProbFile(text, probs, error)) << error;
  return probs;
}

XmlDocument draw(const DataFile& file, const ProbFile& probs, const FigureRequest& request, std::string* svg_out = nullptr) {
  std::string svg, error;
  EXPECT_TRUE(DrawFigure(file, probs, request, svg, error)) << error;
  XmlDocument doc;
  EXPECT_TRUE(companions_test::ParseXml(svg, doc, error)) << error;
  if (svg_out) *svg_out = svg;
  return doc;
}

std::vector<Pie> pies_of(const XmlDocument& doc) {
  std::vector<Pie> pies;
  std::string error;
  EXPECT_TRUE(companions_test::ReadPies(doc, pies, error)) << error;
  return pies;
}

const std::map<std::string, double> FIVE_GLOBAL{{"n1", 0.92}, {"n2", 0.5}, {"n3", 0.013}, {"root", 0.61}};
const std::map<std::string, double> FIVE_LOCAL{{"n1", 1}, {"n2", 0.25}, {"n3", 0}, {"root", 0.7}};

TEST(DrawFigure, DrawsOnePiePerInternalNodeWithTheFilesProbabilities) {
  const DataFile file = data_of(FIVE);
  const ProbFile probs = probs_of(probs_text(file, FIVE_GLOBAL, FIVE_LOCAL));
  for (bool local : {false, true}) {
    FigureRequest request;
    request.local = local;
    const auto& expected = local ? FIVE_LOCAL : FIVE_GLOBAL;
    const std::vector<Pie> pies = pies_of(draw(file, probs, request));
    ASSERT_EQ(pies.size(), 4u);
    std::map<std::string, double> drawn;
    for (const Pie& p : pies) drawn[p.node] = p.drawn_p0;
    for (const auto& e : expected) {
      ASSERT_TRUE(drawn.count(e.first)) << e.first;
      EXPECT_NEAR(drawn[e.first], e.second, 1e-4) << e.first << (local ? " local" : " global");
    }
  }
}

TEST(DrawFigure, PlacesPiesOnTheNodesOfAPhylogramToScale) {
  const DataFile file = data_of(FIVE);
  const std::vector<Pie> pies = pies_of(draw(file, probs_of(probs_text(file, FIVE_GLOBAL, FIVE_LOCAL)), {}));
  std::map<std::string, Pie> at;
  for (const Pie& p : pies) at[p.node] = p;
  // x grows with the distance from the root: n2 at 0.4, n1 at 0.7, n3 at 0.6.
  const double unit = (at["n2"].cx - at["root"].cx) / 0.4;
  EXPECT_GT(unit, 0);
  EXPECT_NEAR(at["n1"].cx - at["root"].cx, 0.7 * unit, 0.01);
  EXPECT_NEAR(at["n3"].cx - at["root"].cx, 0.6 * unit, 0.01);
  // Tips take rows in the order of the tree (C, A, B, D, E: C's line comes
  // before n1's), and a parent sits halfway between its children: n1 at row
  // 1.5, n2 at 0.75, n3 at 3.5, the root at 2.125.
  EXPECT_LT(at["n2"].cy, at["n1"].cy);
  EXPECT_LT(at["n1"].cy, at["root"].cy);
  EXPECT_LT(at["root"].cy, at["n3"].cy);
  EXPECT_NEAR((at["n1"].cy - at["n2"].cy) / (at["n3"].cy - at["root"].cy), 0.75 / 1.375, 1e-4);
}

TEST(DrawFigure, MarksEveryTipInTheColourOfItsState) {
  const DataFile file = data_of(FIVE);
  FigureRequest request;
  request.colour0 = "#123456";
  request.colour1 = "tomato";
  const XmlDocument doc = draw(file, probs_of(probs_text(file, FIVE_GLOBAL, FIVE_LOCAL)), request);
  std::map<std::string, std::string> fill;
  for (int t : companions_test::WithClass(doc, "tip"))
    fill[doc.elements[t].attributes.at("data-node")] = doc.elements[t].attributes.at("fill");
  EXPECT_EQ(fill, (std::map<std::string, std::string>{
                      {"A", "#123456"}, {"B", "#123456"}, {"C", "tomato"}, {"D", "tomato"}, {"E", "#123456"}}));
  for (int w : companions_test::WithClass(doc, "state0"))
    EXPECT_EQ(doc.elements[w].attributes.at("fill"), "#123456");
  for (int w : companions_test::WithClass(doc, "state1")) EXPECT_EQ(doc.elements[w].attributes.at("fill"), "tomato");
}

// The text of the elements of a class: their own text, or that of their
// <text> children, each followed by '|'.
std::string text_of_class(const XmlDocument& doc, const std::string& cls) {
  std::string all;
  for (int e : companions_test::WithClass(doc, cls)) {
    if (doc.elements[e].children.empty()) all += doc.elements[e].text;
    for (int c : doc.elements[e].children)
      if (doc.elements[c].name == "text") all += doc.elements[c].text + "|";
  }
  return all;
}

TEST(DrawFigure, NamesTheTraitApproachStatesAndScale) {
  const DataFile file = data_of(FIVE);
  FigureRequest request;
  request.local = true;
  request.trait_name = "diet";
  request.state_labels = {"herbivore", "carnivore"};
  const XmlDocument doc =
      draw(file, probs_of(probs_text(file, FIVE_GLOBAL, FIVE_LOCAL, "param\tequals\nq10\t0\n")), request);
  EXPECT_EQ(text_of_class(doc, "title"), "Ancestral states of trait 0 (diet), local approach");
  EXPECT_NE(text_of_class(doc, "subtitle").find("Restrictions: q10 = 0"), std::string::npos);
  EXPECT_EQ(text_of_class(doc, "legend"), "state 0: herbivore|state 1: carnivore|");
  // The whole depth is 1.3; the bar is the largest 1, 2 or 5 times a power
  // of ten within a third of it.
  EXPECT_EQ(text_of_class(doc, "scale-bar"), "0.2 (branch length)|");
}

TEST(DrawFigure, WithoutLabelsNamesStatesByNumber) {
  const DataFile file = data_of(FIVE);
  const XmlDocument doc = draw(file, probs_of(probs_text(file, FIVE_GLOBAL, FIVE_LOCAL)), {});
  EXPECT_EQ(text_of_class(doc, "title"), "Ancestral states of trait 0, global approach");
  EXPECT_EQ(text_of_class(doc, "legend"), "state 0|state 1|");
}

TEST(DrawFigure, PrintsTreeNamesOfRenamedTipsAndEscapesMarkup) {
  const DataFile file = data_of("2 1\nA&B<C r 1 0\nHomo_sapiens r 1 1\n");
  FigureRequest request;
  request.shown_names = {{"Homo_sapiens", "Homo sapiens"}};
  std::string svg;
  const XmlDocument doc = draw(file, probs_of(probs_text(file, {{"r", 0.5}}, {{"r", 0.5}})), request, &svg);
  EXPECT_NE(svg.find(">A&amp;B&lt;C</text>"), std::string::npos);
  const std::string tips = text_of_class(doc, "tips");
  EXPECT_NE(tips.find("A&B<C|"), std::string::npos) << tips;
  EXPECT_NE(tips.find("Homo sapiens|"), std::string::npos) << tips;
}

// A caterpillar data file: n1 is the root, node nk holds tip t(k-1) and n(k+1).
std::string caterpillar_data(int tips) {
  std::string text = std::to_string(tips) + " 1\n";
  for (int k = 1; k < tips; k++) {
    text += "t" + std::to_string(k - 1) + " n" + std::to_string(k) + " 1 " + std::to_string(k % 2) + "\n";
    if (k + 1 < tips) text += "n" + std::to_string(k + 1) + " n" + std::to_string(k) + " 0.5\n";
  }
  text += "t" + std::to_string(tips - 1) + " n" + std::to_string(tips - 1) + " 1 1\n";
  return text;
}

std::map<std::string, double> ramp(const DataFile& file) {
  std::map<std::string, double> p;
  int k = 0;
  for (const DataNode& n : file.nodes)
    if (n.child1 >= 0) p[n.name] = (k++ % 11) / 10.0;
  return p;
}

TEST(DrawFigure, SizesNamesAndPiesToTheTree) {
  struct Case {
    int tips;
    bool names;
    double font;
    double pie;
  };
  const Case cases[] = {
      {4, true, 14, 10},
      {100, true, 11.2, 6.72},
      {400, true, 8.4, 5.04},
      {500, true, 8.4, 5.04},
      {501, false, 0, 0},
      {2000, false, 0, 1.26},
  };
  for (const auto& c : cases) {
    const DataFile file = data_of(caterpillar_data(c.tips));
    const std::map<std::string, double> p = ramp(file);
    const XmlDocument doc = draw(file, probs_of(probs_text(file, p, p)), {});
    const std::vector<Pie> pies = pies_of(doc);
    ASSERT_EQ(pies.size(), static_cast<std::size_t>(c.tips - 1)) << c.tips;
    for (const Pie& pie : pies) EXPECT_NEAR(pie.drawn_p0, p.at(pie.node), 1e-3) << c.tips << " " << pie.node;
    const auto tips = companions_test::WithClass(doc, "tips");
    ASSERT_EQ(tips.size(), 1u);
    const auto& group = doc.elements[tips[0]];
    int labels = 0;
    for (int child : group.children) labels += doc.elements[child].name == "text";
    EXPECT_EQ(labels, c.names ? c.tips : 0) << c.tips;
    if (c.names) {
      EXPECT_NEAR(std::atof(group.attributes.at("font-size").c_str()), c.font, 1e-3) << c.tips;
    }
    if (c.pie > 0) {
      EXPECT_NEAR(pies[0].r, c.pie, 1e-3) << c.tips;
    }
  }
}

struct Refusal {
  const char* what;
  std::string data;
  std::string probs;
  int trait;
  const char* message;
};

TEST(DrawFigure, RefusesProbabilitiesOfAnotherDataFileOrTrait) {
  const DataFile five = data_of(FIVE);
  const std::string five_probs = probs_text(five, FIVE_GLOBAL, FIVE_LOCAL);
  const DataFile renamed = data_of("5 1\nA n1 0.5 0\nB n1 0.5 0\nC n2 1.0 1\nn1 n2 0.3\nD x3 0.8 1\nn2 root 0.4\n"
                                   "x3 root 0.6\nE x3 0.7 0\n");
  const DataFile two_traits = data_of("2 2\nA r 1 0 1\nB r 1 1 1\n");
  const std::string flipped = probs_text(data_of("5 1\nA n1 0.5 1\nB n1 0.5 0\nC n2 1.0 1\nn1 n2 0.3\nD n3 0.8 1\n"
                                                 "n2 root 0.4\nn3 root 0.6\nE n3 0.7 0\n"),
                                         FIVE_GLOBAL, FIVE_LOCAL);
  const Refusal cases[] = {
      {"other node names", FIVE, probs_text(renamed, {{"n1", 0.5}, {"n2", 0.5}, {"x3", 0.5}, {"root", 0.5}},
                                            {{"n1", 0.5}, {"n2", 0.5}, {"x3", 0.5}, {"root", 0.5}}),
       0,
       "node 7 of the probability file is 'x3' but node 7 of the data file is 'n3': the probability file was not "
       "written for this data file"},
      {"another number of nodes", FIVE, probs_text(two_traits, {{"r", 0.5}}, {{"r", 0.5}}), 0,
       "the probability file has 3 nodes and the data file 9 (the root included): the probability file was not "
       "written for this data file"},
      {"other tip states", FIVE, flipped, 0,
       "terminal node 'A' has state 0 in trait 0 of the data file, but the probability file gives it 0"},
      {"a trait row that does not exist", FIVE, five_probs, 3,
       "the probability file has no row for trait 3 (it has trait 0)"},
      {"a trait row beyond several", "2 2\nA r 1 0 1\nB r 1 1 1\n", probs_text(two_traits, {{"r", 0.5}}, {{"r", 0.5}}),
       2, "the probability file has no row for trait 2 (it has traits 0 to 1)"},
      {"a probability above 1", FIVE, probs_text(five, {{"n1", 1.5}, {"n2", 0.5}, {"n3", 0.5}, {"root", 0.5}}, FIVE_LOCAL),
       0, "node 'n1': the probability 1.5 is not between 0 and 1"},
      {"a three-state tip", "2 1\nA r 1 0\nB r 1 2\n", "trait\tA_glob\tB_glob\tr_glob\tA_loc\tB_loc\tr_loc\n0\t1\t0\t0.5\t1\t0\t0.5\n",
       0, "terminal node 'B' has state 2 in trait 0: the figure shows characters with two states"},
  };
  for (const auto& c : cases) {
    const DataFile file = data_of(c.data);
    FigureRequest request;
    request.trait = c.trait;
    std::string svg, error;
    EXPECT_FALSE(DrawFigure(file, probs_of(c.probs), request, svg, error)) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << "\ngot: " << error;
  }
}

TEST(ValidColour, TakesHexAndCssNames) {
  for (const char* c : {"#abc", "#A0B1C2", "red", "Tomato", "rebeccapurple"}) EXPECT_TRUE(ValidColour(c)) << c;
  for (const char* c : {"", "#ab", "#abcd", "#ggg", "blurple", "red;", "\"red\"", "rgb(1,2,3)"})
    EXPECT_FALSE(ValidColour(c)) << c;
}

TEST(ReadStatesFile, GivesTheTraitNameAndLabels) {
  const char* text = "column\ttrait\tstate\tlabel\n0\tdiet\t0\tfruit\n0\tdiet\t1\tleaves\n1\thabitat\t0\tground\n"
                     "1\thabitat\t1\ttrees\n";
  std::string name, error;
  std::vector<std::string> labels;
  ASSERT_TRUE(ReadStatesFile(text, 1, name, labels, error)) << error;
  EXPECT_EQ(name, "habitat");
  EXPECT_EQ(labels, (std::vector<std::string>{"ground", "trees"}));
  EXPECT_FALSE(ReadStatesFile(text, 2, name, labels, error));
  EXPECT_EQ(error, "it has no states for trait 2");
  EXPECT_FALSE(ReadStatesFile("5 1\n", 0, name, labels, error));
}

TEST(ReadNamesFile, MapsDataNamesToTreeNames) {
  std::unordered_map<std::string, std::string> shown;
  std::string error;
  ASSERT_TRUE(ReadNamesFile("tree_name\tdata_name\nHomo sapiens\tHomo_sapiens\n", shown, error)) << error;
  EXPECT_EQ(shown.at("Homo_sapiens"), "Homo sapiens");
  EXPECT_FALSE(ReadNamesFile("tree_name\tdata_name\nno tab here\n", shown, error));
}

}  // namespace
}  // namespace companion
