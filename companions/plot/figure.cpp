#include "companions/plot/figure.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "companions/common/names.h"

namespace companion {

namespace {

const double PI = 3.14159265358979323846;
const char* const MISSING_COLOUR = "#BBBBBB";
// Probabilities this close to 0 or 1 give a whole disc: a wedge thinner
// than this cannot be seen, and an arc of 360 degrees cannot be written.
const double WHOLE = 1e-9;

const char* const CSS_COLOURS[] = {
    "aliceblue", "antiquewhite", "aqua", "aquamarine", "azure", "beige", "bisque", "black", "blanchedalmond",
    "blue", "blueviolet", "brown", "burlywood", "cadetblue", "chartreuse", "chocolate", "coral",
    "cornflowerblue", "cornsilk", "crimson", "cyan", "darkblue", "darkcyan", "darkgoldenrod", "darkgray",
    "darkgreen", "darkgrey", "darkkhaki", "darkmagenta", "darkolivegreen", "darkorange", "darkorchid", "darkred",
    "darksalmon", "darkseagreen", "darkslateblue", "darkslategray", "darkslategrey", "darkturquoise",
    "darkviolet", "deeppink", "deepskyblue", "dimgray", "dimgrey", "dodgerblue", "firebrick", "floralwhite",
    "forestgreen", "fuchsia", "gainsboro", "ghostwhite", "gold", "goldenrod", "gray", "green", "greenyellow",
    "grey", "honeydew", "hotpink", "indianred", "indigo", "ivory", "khaki", "lavender", "lavenderblush",
    "lawngreen", "lemonchiffon", "lightblue", "lightcoral", "lightcyan", "lightgoldenrodyellow", "lightgray",
    "lightgreen", "lightgrey", "lightpink", "lightsalmon", "lightseagreen", "lightskyblue", "lightslategray",
    "lightslategrey", "lightsteelblue", "lightyellow", "lime", "limegreen", "linen", "magenta", "maroon",
    "mediumaquamarine", "mediumblue", "mediumorchid", "mediumpurple", "mediumseagreen", "mediumslateblue",
    "mediumspringgreen", "mediumturquoise", "mediumvioletred", "midnightblue", "mintcream", "mistyrose",
    "moccasin", "navajowhite", "navy", "oldlace", "olive", "olivedrab", "orange", "orangered", "orchid",
    "palegoldenrod", "palegreen", "paleturquoise", "palevioletred", "papayawhip", "peachpuff", "peru", "pink",
    "plum", "powderblue", "purple", "rebeccapurple", "red", "rosybrown", "royalblue", "saddlebrown", "salmon",
    "sandybrown", "seagreen", "seashell", "sienna", "silver", "skyblue", "slateblue", "slategray", "slategrey",
    "snow", "springgreen", "steelblue", "tan", "teal", "thistle", "tomato", "turquoise", "violet", "wheat",
    "white", "whitesmoke", "yellow", "yellowgreen"};

// Text fit for XML: markup characters escaped, control characters and bytes
// that are not UTF-8 replaced, so that any name gives a well-formed file.
std::string xml_text(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += (c < 32 || c == 127) ? '?' : static_cast<char>(c);
      }
      i++;
      continue;
    }
    std::size_t length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (c >= 0xF5) length = 0;
    bool sound = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; sound && k < length; k++)
      sound = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (sound) {
      out.append(text, i, length);
      i += length;
    } else {
      out += '?';
      i++;
    }
  }
  return out;
}

// A coordinate: three decimals at most, no trailing zeros.
std::string num(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3f", v);
  std::string s(buffer);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string fixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

std::string label_number(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

// Bar length for the scale: 1, 2 or 5 times a power of ten, at most a
// third of the tree's depth.
double scale_length(double span) {
  const double target = span / 3;
  double unit = std::pow(10.0, std::floor(std::log10(target)));
  for (double m : {5.0, 2.0, 1.0})
    if (m * unit <= target) return m * unit;
  return unit;
}

struct Point {
  double x, y;
};

Point on_circle(Point c, double r, double degrees) {
  const double a = degrees * PI / 180;
  return {c.x + r * std::cos(a), c.y + r * std::sin(a)};
}

// A wedge from `from` to `to` degrees, clockwise on the screen, 0 pointing right.
std::string wedge(Point c, double r, double from, double to, const std::string& state, const std::string& colour) {
  const Point a = on_circle(c, r, from), b = on_circle(c, r, to);
  return "<path class=\"wedge " + state + "\" fill=\"" + colour + "\" d=\"M" + num(c.x) + "," + num(c.y) + " L" +
         num(a.x) + "," + num(a.y) + " A" + num(r) + "," + num(r) + " 0 " + (to - from > 180 ? "1" : "0") + " 1 " +
         num(b.x) + "," + num(b.y) + " Z\"/>";
}

std::string disc(Point c, double r, const std::string& cls, const std::string& fill) {
  return "<circle class=\"" + cls + "\" cx=\"" + num(c.x) + "\" cy=\"" + num(c.y) + "\" r=\"" + num(r) +
         "\" fill=\"" + fill + "\"/>";
}

bool close_to(double value, double expected) { return std::fabs(value - expected) < 1e-9; }

// Checks that the probabilities were written for this data file and picks
// the trait row; the message says what does not match.
bool check_match(const DataFile& data, const ProbFile& probs, const FigureRequest& request, const ProbRow*& row,
                 std::string& error) {
  const std::string not_this = ": the probability file was not written for this data file";
  if (probs.nodes.size() != data.nodes.size()) {
    error = "the probability file has " + std::to_string(probs.nodes.size()) + " nodes and the data file " +
            std::to_string(data.nodes.size()) + " (the root included)" + not_this;
    return false;
  }
  for (std::size_t k = 0; k < data.nodes.size(); k++)
    if (probs.nodes[k] != data.nodes[k].name) {
      error = "node " + std::to_string(k + 1) + " of the probability file is '" + OneLine(probs.nodes[k]) +
              "' but node " + std::to_string(k + 1) + " of the data file is '" + OneLine(data.nodes[k].name) + "'" +
              not_this;
      return false;
    }
  row = nullptr;
  for (const ProbRow& r : probs.rows)
    if (r.trait == request.trait) row = &r;
  if (!row) {
    error = "the probability file has no row for trait " + std::to_string(request.trait) + " (it has " +
            (probs.rows.size() == 1 ? "trait " + std::to_string(probs.rows[0].trait)
                                    : "traits " + std::to_string(probs.rows.front().trait) + " to " +
                                          std::to_string(probs.rows.back().trait)) +
            ")";
    return false;
  }
  if (request.trait < 0 || request.trait >= data.traits) {
    error = "the data file has no trait column " + std::to_string(request.trait) + " (it has " +
            std::to_string(data.traits) + ")" + not_this;
    return false;
  }
  const std::vector<double>& p = request.local ? row->local : row->global;
  for (std::size_t k = 0; k < data.nodes.size(); k++) {
    const DataNode& node = data.nodes[k];
    if (node.child1 >= 0) {
      if (!(p[k] >= -1e-9 && p[k] <= 1 + 1e-9)) {
        error = "node '" + OneLine(node.name) + "': the probability " + label_number(p[k]) +
                " is not between 0 and 1";
        return false;
      }
      continue;
    }
    const int state = node.values[static_cast<std::size_t>(request.trait)];
    if (state > 1) {
      error = "terminal node '" + OneLine(node.name) + "' has state " + std::to_string(state) + " in trait " +
              std::to_string(request.trait) + ": the figure shows characters with two states";
      return false;
    }
    // varnic writes 1 for a terminal node in state 0 and 0 otherwise.
    if (!close_to(row->global[k], state == 0 ? 1 : 0) || !close_to(row->local[k], state == 0 ? 1 : 0)) {
      error = "terminal node '" + OneLine(node.name) + "' has state " + std::to_string(state) + " in trait " +
              std::to_string(request.trait) + " of the data file, but the probability file gives it " +
              label_number(row->global[k]) + not_this;
      return false;
    }
  }
  return true;
}

}  // namespace

bool ValidColour(const std::string& colour) {
  if (!colour.empty() && colour[0] == '#') {
    if (colour.size() != 4 && colour.size() != 7) return false;
    for (std::size_t i = 1; i < colour.size(); i++)
      if (!std::isxdigit(static_cast<unsigned char>(colour[i]))) return false;
    return true;
  }
  std::string lower(colour);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* name : CSS_COLOURS)
    if (lower == name) return true;
  return false;
}

bool ReadStatesFile(const std::string& text, int trait, std::string& trait_name, std::vector<std::string>& labels,
                    std::string& error) {
  trait_name.clear();
  labels.clear();
  std::size_t start = 0;
  int line_number = 0;
  bool found = false;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line_number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line_number == 1) {
      if (line.compare(0, 7, "column\t") != 0) {
        error = "line 1 is not the header of a states file (column, trait, state, label)";
        return false;
      }
      continue;
    }
    if (line.empty()) continue;
    const std::vector<std::string> cells = SplitTrimmed(line, '\t');
    if (cells.size() != 4) {
      error = "line " + std::to_string(line_number) + " does not have 4 cells";
      return false;
    }
    if (std::atoi(cells[0].c_str()) != trait) continue;
    const int state = std::atoi(cells[2].c_str());
    if (state < 0 || state > 5) continue;
    if (labels.size() <= static_cast<std::size_t>(state)) labels.resize(static_cast<std::size_t>(state) + 1);
    labels[static_cast<std::size_t>(state)] = cells[3];
    trait_name = cells[1];
    found = true;
  }
  if (!found) {
    error = "it has no states for trait " + std::to_string(trait);
    return false;
  }
  return true;
}

bool ReadNamesFile(const std::string& text, std::unordered_map<std::string, std::string>& shown,
                   std::string& error) {
  shown.clear();
  std::size_t start = 0;
  int line_number = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line_number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line_number == 1 || line.empty()) continue;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      error = "line " + std::to_string(line_number) + " has no tab between the tree name and the data-file name";
      return false;
    }
    shown[line.substr(tab + 1)] = line.substr(0, tab);
  }
  return true;
}

bool DrawFigure(const DataFile& data, const ProbFile& probs, const FigureRequest& request, std::string& svg,
                std::string& error) {
  const ProbRow* row = nullptr;
  if (!check_match(data, probs, request, row, error)) return false;
  const std::vector<double>& p0 = request.local ? row->local : row->global;

  // Layout: tips one row apart in the order of the tree, internal nodes
  // halfway between their descendants, x by distance from the root.
  const std::vector<int> order = DataPreorder(data);
  const std::size_t n = data.nodes.size();
  std::vector<double> depth(n, 0), row_of(n, 0);
  int tips = 0;
  for (int k : order) {
    const DataNode& node = data.nodes[k];
    if (node.parent >= 0) depth[k] = depth[node.parent] + node.length;
    if (node.child1 < 0) row_of[k] = tips++;
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const DataNode& node = data.nodes[*it];
    if (node.child1 >= 0) row_of[*it] = (row_of[node.child1] + row_of[node.child2]) / 2;
  }
  const double low = std::min(0.0, *std::min_element(depth.begin(), depth.end()));
  const double high = *std::max_element(depth.begin(), depth.end());
  const double span = high - low > 0 ? high - low : 1;

  const bool named = tips <= NAMED_TIPS_MAX;
  const double step = named ? std::clamp(1600.0 / tips, 12.0, 24.0) : 6000.0 / tips;
  const double font = std::clamp(step * 0.7, 8.0, 14.0);
  const double pie = named ? std::clamp(step * 0.42, 4.0, 10.0) : step * 0.42;
  const double mark = pie * 0.6;
  const double stroke = std::clamp(step * 0.08, 0.2, 1.5);
  const double margin = 20, tree_width = 720, top = 96;
  const double left = margin + pie;
  auto x_of = [&](int k) { return left + (depth[k] - low) / span * tree_width; };
  auto y_of = [&](int k) { return top + step * (row_of[k] + 0.5); };

  auto shown = [&](const std::string& name) {
    auto found = request.shown_names.find(name);
    return found == request.shown_names.end() ? name : found->second;
  };
  double right = left + tree_width + pie;
  bool missing = false;
  for (std::size_t k = 0; k < n; k++) {
    if (data.nodes[k].child1 >= 0) continue;
    missing = missing || data.nodes[k].values[static_cast<std::size_t>(request.trait)] < 0;
    if (named)
      right = std::max(right, x_of(static_cast<int>(k)) + mark + 4 + font * 0.62 * shown(data.nodes[k].name).size());
  }

  const std::string approach = request.local ? "local" : "global";
  std::string title = "Ancestral states of trait " + std::to_string(request.trait);
  if (!request.trait_name.empty()) title += " (" + request.trait_name + ")";
  title += ", " + approach + " approach";
  std::string subtitle = "Pies: probability of each state at the internal nodes; tips: observed state. Restrictions: ";
  if (probs.restrictions.empty()) subtitle += "none";
  for (std::size_t i = 0; i < probs.restrictions.size(); i++) subtitle += (i ? ", " : "") + probs.restrictions[i];

  const double width = std::ceil(std::max({right + margin, 40 + 9.0 * title.size(), 40 + 6.0 * subtitle.size()}));
  const double tree_bottom = top + step * tips;
  const double height = std::ceil(tree_bottom + 56);

  std::string state_name[2];
  for (int s = 0; s < 2; s++) {
    state_name[s] = "state " + std::to_string(s);
    if (static_cast<std::size_t>(s) < request.state_labels.size() && !request.state_labels[s].empty())
      state_name[s] += ": " + request.state_labels[s];
  }
  const std::string colour[2] = {request.colour0, request.colour1};

  std::string out;
  out.reserve(n * 200 + 4096);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + num(width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n";
  out += "<title>" + xml_text(title) + "</title>\n";
  out += "<rect width=\"" + num(width) + "\" height=\"" + num(height) + "\" fill=\"white\"/>\n";
  out += "<text class=\"title\" x=\"" + num(margin) + "\" y=\"28\" font-size=\"17\" font-weight=\"bold\">" +
         xml_text(title) + "</text>\n";
  out += "<text class=\"subtitle\" x=\"" + num(margin) + "\" y=\"48\" font-size=\"11\" fill=\"#444444\">" +
         xml_text(subtitle) + "</text>\n";

  out += "<g class=\"legend\" font-size=\"12\">\n";
  double lx = margin;
  for (int s = 0; s < 3; s++) {
    if (s == 2 && !missing) break;
    const std::string text = s < 2 ? state_name[s] : "no data";
    const std::string fill = s < 2 ? colour[s] : MISSING_COLOUR;
    out += "<rect x=\"" + num(lx) + "\" y=\"62\" width=\"14\" height=\"14\" fill=\"" + fill +
           "\" stroke=\"#333333\" stroke-width=\"0.5\"/>";
    out += "<text x=\"" + num(lx + 20) + "\" y=\"74\">" + xml_text(text) + "</text>\n";
    lx += 20 + 7.5 * text.size() + 24;
  }
  out += "</g>\n";

  // One path per internal node: the vertical joint and both horizontal branches.
  out += "<g class=\"branches\" fill=\"none\" stroke=\"#333333\" stroke-width=\"" + num(stroke) +
         "\" stroke-linecap=\"square\">\n";
  for (int k : order) {
    const DataNode& node = data.nodes[k];
    if (node.child1 < 0) continue;
    const double x = x_of(k);
    out += "<path d=\"M" + num(x) + "," + num(y_of(node.child1)) + " V" + num(y_of(node.child2)) + " M" + num(x) +
           "," + num(y_of(node.child1)) + " H" + num(x_of(node.child1)) + " M" + num(x) + "," +
           num(y_of(node.child2)) + " H" + num(x_of(node.child2)) + "\"/>\n";
  }
  out += "</g>\n";

  out += "<g class=\"tips\" stroke=\"#333333\" stroke-width=\"" + num(stroke * 0.5) + "\" font-size=\"" +
         num(font) + "\">\n";
  for (int k : order) {
    const DataNode& node = data.nodes[k];
    if (node.child1 >= 0) continue;
    const int state = node.values[static_cast<std::size_t>(request.trait)];
    const Point c{x_of(k), y_of(k)};
    const std::string cls = state < 0 ? "tip missing" : "tip state" + std::to_string(state);
    out += "<circle class=\"" + cls + "\" data-node=\"" + xml_text(node.name) + "\" cx=\"" + num(c.x) + "\" cy=\"" +
           num(c.y) + "\" r=\"" + num(mark) + "\" fill=\"" + (state < 0 ? MISSING_COLOUR : colour[state]) + "\"/>";
    if (named)
      out += "<text x=\"" + num(c.x + mark + 4) + "\" y=\"" + num(c.y + font * 0.35) + "\" stroke=\"none\">" +
             xml_text(shown(node.name)) + "</text>";
    out += "\n";
  }
  out += "</g>\n";

  // Pies: state 0 from twelve o'clock clockwise, state 1 the rest.
  out += "<g class=\"pies\" stroke=\"#333333\" stroke-width=\"" + num(stroke * 0.5) + "\">\n";
  for (int k : order) {
    const DataNode& node = data.nodes[k];
    if (node.child1 < 0) continue;
    const double p = std::clamp(p0[k], 0.0, 1.0);
    const Point c{x_of(k), y_of(k)};
    out += "<g class=\"pie\" data-node=\"" + xml_text(node.name) + "\" data-p0=\"" + label_number(p0[k]) + "\">";
    // A tooltip with the figures, unless the tree is too large to read them.
    if (named)
      out += "<title>" + xml_text(node.name) + ": " + xml_text(state_name[0]) + " " + fixed(p, 3) + ", " +
             xml_text(state_name[1]) + " " + fixed(1 - p, 3) + "</title>";
    if (p >= 1 - WHOLE) {
      out += disc(c, pie, "wedge state0", colour[0]);
    } else if (p <= WHOLE) {
      out += disc(c, pie, "wedge state1", colour[1]);
    } else {
      const double turn = -90 + 360 * p;
      out += wedge(c, pie, -90, turn, "state0", colour[0]);
      out += wedge(c, pie, turn, 270, "state1", colour[1]);
    }
    out += "</g>\n";
  }
  out += "</g>\n";

  // A tree whose branches all have length 0 has no scale to show.
  if (high - low > 0) {
    const double bar = scale_length(span);
    const double bar_px = bar / span * tree_width;
    const double by = tree_bottom + 26;
    out += "<g class=\"scale-bar\" stroke=\"#333333\" stroke-width=\"1.5\" font-size=\"11\">";
    out += "<path fill=\"none\" d=\"M" + num(left) + "," + num(by) + " H" + num(left + bar_px) + " M" + num(left) +
           "," + num(by - 4) + " V" + num(by + 4) + " M" + num(left + bar_px) + "," + num(by - 4) + " V" +
           num(by + 4) + "\"/>";
    out += "<text x=\"" + num(left + bar_px + 8) + "\" y=\"" + num(by + 4) + "\" stroke=\"none\">" +
           xml_text(label_number(bar)) + " (branch length)</text>";
    out += "</g>\n";
  }
  out += "</svg>\n";
  svg = std::move(out);
  return true;
}

}  // namespace companion
