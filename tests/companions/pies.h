// Reads the pies of a figure back from their geometry, so that tests can
// compare what is drawn with the probabilities in the file.
#pragma once

#include <string>
#include <vector>

#include "xml.h"

namespace companions_test {

struct Pie {
  std::string node;      // the pie's data-node
  double drawn_p0 = -1;  // the share of the disc drawn in the state-0 class
  double cx = 0, cy = 0, r = 0;
};

// Every pie of the document; false, with the reason, when a pie's geometry
// is inconsistent (wedges that do not meet, do not start at twelve o'clock,
// use the wrong large-arc flag or do not fill the disc).
bool ReadPies(const XmlDocument& doc, std::vector<Pie>& pies, std::string& error);

}  // namespace companions_test
