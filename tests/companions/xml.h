// A strict reader of the XML that the figure uses (declaration, comments,
// elements, attributes, text and character references), so that tests can
// check that a figure is well-formed and look inside it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace companions_test {

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;  // values with references resolved
  std::string text;                               // the element's own text, references resolved
  std::vector<int> children;                      // indices into XmlDocument::elements
  int parent = -1;
};

struct XmlDocument {
  std::vector<XmlElement> elements;  // the root element first, then in document order
};

// False, with the reason and place, when the text is not well-formed XML.
bool ParseXml(const std::string& text, XmlDocument& doc, std::string& error);

// Elements whose class attribute holds the word.
std::vector<int> WithClass(const XmlDocument& doc, const std::string& word);

// Elements of a tag name.
std::vector<int> Named(const XmlDocument& doc, const std::string& name);

}  // namespace companions_test
