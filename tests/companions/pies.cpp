#include "pies.h"

#include <cmath>
#include <cstdio>

namespace companions_test {

namespace {

const double PI = 3.14159265358979323846;

struct Wedge {
  double cx, cy, ax, ay, r, bx, by;
  int large, sweep;
};

bool parse_wedge(const std::string& d, Wedge& w) {
  double rx, ry, rotation;
  char z = 0;
  const int got = std::sscanf(d.c_str(), "M%lf,%lf L%lf,%lf A%lf,%lf %lf %d %d %lf,%lf %c", &w.cx, &w.cy, &w.ax,
                              &w.ay, &rx, &ry, &rotation, &w.large, &w.sweep, &w.bx, &w.by, &z);
  w.r = rx;
  return got == 12 && z == 'Z' && rx == ry;
}

// Angle of a point about the centre, degrees clockwise on screen from three o'clock.
double angle(double cx, double cy, double x, double y) { return std::atan2(y - cy, x - cx) * 180 / PI; }

// Clockwise sweep from a to b, in [0, 360).
double sweep(double a, double b) {
  double s = std::fmod(b - a, 360.0);
  return s < 0 ? s + 360 : s;
}

double attr(const XmlElement& e, const std::string& name) {
  auto it = e.attributes.find(name);
  return it == e.attributes.end() ? NAN : std::atof(it->second.c_str());
}

}  // namespace

bool ReadPies(const XmlDocument& doc, std::vector<Pie>& pies, std::string& error) {
  pies.clear();
  for (int g : WithClass(doc, "pie")) {
    const XmlElement& group = doc.elements[g];
    Pie pie;
    pie.node = group.attributes.count("data-node") ? group.attributes.at("data-node") : "";
    std::vector<const XmlElement*> wedges;
    for (int c : group.children)
      if (doc.elements[c].name != "title") wedges.push_back(&doc.elements[c]);
    const std::string where = "pie of '" + pie.node + "': ";
    if (wedges.size() == 1 && wedges[0]->name == "circle") {
      const std::string cls = wedges[0]->attributes.at("class");
      pie.drawn_p0 = cls == "wedge state0" ? 1 : cls == "wedge state1" ? 0 : -1;
      pie.cx = attr(*wedges[0], "cx");
      pie.cy = attr(*wedges[0], "cy");
      pie.r = attr(*wedges[0], "r");
      if (pie.drawn_p0 < 0) {
        error = where + "a whole disc of class '" + cls + "'";
        return false;
      }
    } else if (wedges.size() == 2 && wedges[0]->name == "path" && wedges[1]->name == "path") {
      Wedge w0, w1;
      if (wedges[0]->attributes.at("class") != "wedge state0" || wedges[1]->attributes.at("class") != "wedge state1" ||
          !parse_wedge(wedges[0]->attributes.at("d"), w0) || !parse_wedge(wedges[1]->attributes.at("d"), w1)) {
        error = where + "two wedges expected, state 0 then state 1";
        return false;
      }
      const double tolerance = 0.01;
      if (std::fabs(w0.cx - w1.cx) > tolerance || std::fabs(w0.cy - w1.cy) > tolerance || w0.r != w1.r ||
          std::fabs(w0.bx - w1.ax) > tolerance || std::fabs(w0.by - w1.ay) > tolerance ||
          std::fabs(w1.bx - w0.ax) > tolerance || std::fabs(w1.by - w0.ay) > tolerance) {
        error = where + "the wedges do not share their centre and edges";
        return false;
      }
      if (std::fabs(w0.ax - w0.cx) > tolerance || std::fabs(w0.ay - (w0.cy - w0.r)) > tolerance) {
        error = where + "state 0 does not start at twelve o'clock";
        return false;
      }
      if (w0.sweep != 1 || w1.sweep != 1) {
        error = where + "wedges not drawn clockwise";
        return false;
      }
      const double s0 = sweep(angle(w0.cx, w0.cy, w0.ax, w0.ay), angle(w0.cx, w0.cy, w0.bx, w0.by));
      const double s1 = 360 - s0;
      // The flag says which of the two arcs between the points is meant.
      if ((s0 > 180.5 && w0.large != 1) || (s0 < 179.5 && w0.large != 0) || (s1 > 180.5 && w1.large != 1) ||
          (s1 < 179.5 && w1.large != 0)) {
        error = where + "a large-arc flag does not match the wedge";
        return false;
      }
      pie.drawn_p0 = s0 / 360;
      pie.cx = w0.cx;
      pie.cy = w0.cy;
      pie.r = w0.r;
    } else {
      error = where + "neither a whole disc nor two wedges";
      return false;
    }
    pies.push_back(pie);
  }
  return true;
}

}  // namespace companions_test
