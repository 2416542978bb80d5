// varnic-plot: the probabilities of the ancestral states that varnic's
// 'testall' command computed, drawn on the tree as an SVG figure.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "companions/common/cli.h"
#include "companions/common/datafile.h"
#include "companions/common/names.h"
#include "companions/common/probfile.h"
#include "companions/plot/figure.h"

namespace {

const char* const HELP =
    "Usage: varnic-plot --data DATAFILE --probs PROBFILE --out FIGURE.svg\n"
    "                   [--trait N] [--approach global|local] [--colours C0,C1]\n"
    "                   [--states STATES.tsv] [--names NAMES.tsv]\n"
    "\n"
    "Draws the tree of varnic's data file as a rectangular phylogram, branch\n"
    "lengths to scale, with a pie at every internal node showing the probability\n"
    "of state 0 and state 1 that varnic's 'testall' command wrote, each tip marked\n"
    "in the colour of its observed state, a legend, a scale bar and a title.\n"
    "\n"
    "--data DATAFILE     the data file varnic analysed\n"
    "--probs PROBFILE    the state-probability file 'testall PROBFILE' wrote for it\n"
    "--out FIGURE.svg    the figure to write (SVG)\n"
    "--trait N           the trait column (and row of PROBFILE) to draw; default 0\n"
    "--approach A        'global' (default): rates estimated once with no node fixed;\n"
    "                    'local': rates estimated again for every node and state\n"
    "--colours C0,C1     colours of state 0 and state 1, as #rgb, #rrggbb or CSS\n"
    "                    names; default #E69F00,#0072B2 (orange, blue)\n"
    "--states FILE       the states file of varnic-prepare (PREFIX.states.tsv): the\n"
    "                    title then names the trait and the legend the states\n"
    "--names FILE        the names file of varnic-prepare (PREFIX.names.tsv): renamed\n"
    "                    tips are then labelled with their names in the tree file\n"
    "\n"
    "Names and pies are sized to the tree; trees of more than 500 tips are drawn\n"
    "without tip names. The file is an SVG image: open it in a web browser, or\n"
    "convert it, for example with  rsvg-convert -o figure.png FIGURE.svg\n"
    "\n"
    "Exit status: 0 when the figure was written, 1 when the input was refused (the\n"
    "message says why: for example a probability file written for another data\n"
    "file, or a trait row that does not exist) or a file could not be read or written.\n";

int refuse(const std::string& message) {
  std::fprintf(stderr, "varnic-plot: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string data_path, probs_path, out_path, trait = "0", approach = "global", colours, states_path, names_path;
  std::string error;
  switch (companion::ParseOptions(argc, argv,
                                  {{"--data", &data_path},
                                   {"--probs", &probs_path},
                                   {"--out", &out_path},
                                   {"--trait", &trait},
                                   {"--approach", &approach},
                                   {"--colours", &colours},
                                   {"--colors", &colours},
                                   {"--states", &states_path},
                                   {"--names", &names_path}},
                                  error)) {
    case companion::Options::help:
      std::fputs(HELP, stdout);
      return 0;
    case companion::Options::refused:
      return refuse(error);
    case companion::Options::ok:
      break;
  }
  if (data_path.empty() || probs_path.empty() || out_path.empty())
    return refuse("--data, --probs and --out are all needed (--help explains them)");

  companion::FigureRequest request;
  char* end;
  const long t = std::strtol(trait.c_str(), &end, 10);
  if (trait.empty() || *end != '\0' || t < 0 || t > 100000)
    return refuse("--trait needs a trait number (0, 1, ...), not '" + trait + "'");
  request.trait = static_cast<int>(t);
  if (approach != "global" && approach != "local")
    return refuse("--approach is 'global' or 'local', not '" + approach + "'");
  request.local = approach == "local";
  if (!colours.empty()) {
    const auto pair = companion::SplitTrimmed(colours, ',');
    if (pair.size() != 2) return refuse("--colours needs two colours, C0,C1");
    for (const auto& c : pair)
      if (!companion::ValidColour(c)) return refuse("'" + c + "' is not a colour (#rgb, #rrggbb or a CSS name)");
    request.colour0 = pair[0];
    request.colour1 = pair[1];
  }

  std::string text;
  companion::DataFile data;
  if (!companion::ReadFile(data_path, text, error)) return refuse(error);
  if (!companion::ReadDataFile(text, data, error)) return refuse(data_path + ": " + error);
  companion::ProbFile probs;
  if (!companion::ReadFile(probs_path, text, error)) return refuse(error);
  if (!companion::ReadProbFile(text, probs, error)) return refuse(probs_path + ": " + error);
  if (!states_path.empty()) {
    if (!companion::ReadFile(states_path, text, error)) return refuse(error);
    if (!companion::ReadStatesFile(text, request.trait, request.trait_name, request.state_labels, error))
      return refuse(states_path + ": " + error);
  }
  if (!names_path.empty()) {
    if (!companion::ReadFile(names_path, text, error)) return refuse(error);
    if (!companion::ReadNamesFile(text, request.shown_names, error)) return refuse(names_path + ": " + error);
  }

  std::string svg;
  if (!companion::DrawFigure(data, probs, request, svg, error)) return refuse(probs_path + ": " + error);
  std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
  if (out) out << svg;
  if (out) out.close();
  if (!out) return refuse("cannot write '" + out_path + "': " + std::strerror(errno));
  std::printf("wrote %s: trait %d, %s approach\n", out_path.c_str(), request.trait, approach.c_str());
  return 0;
}
