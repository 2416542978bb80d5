#include "xml.h"

#include <cctype>
#include <sstream>

namespace companions_test {

namespace {

bool name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':'; }
bool name_char(char c) {
  return name_start(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}
bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void append_utf8(std::string& out, unsigned long code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

struct Parser {
  const std::string& s;
  std::size_t pos = 0;
  std::string& error;

  bool fail(const std::string& what) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < pos && i < s.size(); i++) line += s[i] == '\n';
    error = what + " (line " + std::to_string(line) + ")";
    return false;
  }

  bool starts(const char* text) const { return s.compare(pos, std::char_traits<char>::length(text), text) == 0; }

  // Text up to the next '<' (or a quote ending an attribute), with references resolved.
  bool chars(char stop, std::string& out) {
    while (pos < s.size() && s[pos] != stop) {
      const char c = s[pos];
      if (c == '<') return fail("'<' inside an attribute value");
      if (static_cast<unsigned char>(c) < 32 && !space(c)) return fail("a control character");
      if (c != '&') {
        out += c;
        pos++;
        continue;
      }
      const std::size_t semi = s.find(';', pos);
      if (semi == std::string::npos || semi - pos > 10) return fail("'&' that starts no reference");
      const std::string ref = s.substr(pos + 1, semi - pos - 1);
      if (ref == "amp") out += '&';
      else if (ref == "lt") out += '<';
      else if (ref == "gt") out += '>';
      else if (ref == "quot") out += '"';
      else if (ref == "apos") out += '\'';
      else if (ref.size() > 1 && ref[0] == '#') {
        const bool hex = ref[1] == 'x';
        const std::string digits = ref.substr(hex ? 2 : 1);
        if (digits.empty()) return fail("an empty character reference");
        for (char d : digits)
          if (!(hex ? std::isxdigit(static_cast<unsigned char>(d)) : std::isdigit(static_cast<unsigned char>(d))))
            return fail("a bad character reference &" + ref + ";");
        append_utf8(out, std::stoul(digits, nullptr, hex ? 16 : 10));
      } else {
        return fail("an unknown reference &" + ref + ";");
      }
      pos = semi + 1;
    }
    return true;
  }

  bool name(std::string& out) {
    if (pos >= s.size() || !name_start(s[pos])) return fail("a name expected");
    const std::size_t start = pos;
    while (pos < s.size() && name_char(s[pos])) pos++;
    out = s.substr(start, pos - start);
    return true;
  }

  void skip_space() {
    while (pos < s.size() && space(s[pos])) pos++;
  }

  // Comments, processing instructions and blanks between elements.
  bool misc() {
    for (;;) {
      skip_space();
      if (starts("<!--")) {
        const std::size_t end = s.find("-->", pos + 4);
        if (end == std::string::npos) return fail("an unclosed comment");
        pos = end + 3;
      } else if (starts("<?")) {
        const std::size_t end = s.find("?>", pos + 2);
        if (end == std::string::npos) return fail("an unclosed declaration");
        pos = end + 2;
      } else {
        return true;
      }
    }
  }
};

}  // namespace

bool ParseXml(const std::string& text, XmlDocument& doc, std::string& error) {
  doc = XmlDocument();
  Parser p{text, 0, error};
  if (!p.misc()) return false;
  if (!p.starts("<")) return p.fail("no root element");
  int current = -1;
  bool root_closed = false;
  while (p.pos < text.size()) {
    if (current < 0) {
      if (root_closed) {
        if (!p.misc()) return false;
        if (p.pos < text.size()) return p.fail("text after the root element");
        break;
      }
    } else {
      std::string content;
      if (!p.chars('<', content)) return false;
      doc.elements[current].text += content;
      if (p.pos >= text.size()) return p.fail("the document ends inside <" + doc.elements[current].name + ">");
      if (p.starts("<!--")) {
        if (!p.misc()) return false;
        continue;
      }
    }
    if (p.starts("</")) {
      p.pos += 2;
      std::string closing;
      if (!p.name(closing)) return false;
      p.skip_space();
      if (p.pos >= text.size() || text[p.pos] != '>') return p.fail("'>' expected");
      p.pos++;
      if (current < 0 || closing != doc.elements[current].name)
        return p.fail("</" + closing + "> closes " + (current < 0 ? "nothing" : "<" + doc.elements[current].name + ">"));
      current = doc.elements[current].parent;
      if (current < 0) root_closed = true;
      continue;
    }
    if (text[p.pos] != '<') return p.fail("'<' expected");
    p.pos++;
    XmlElement element;
    if (!p.name(element.name)) return false;
    element.parent = current;
    bool empty = false;
    for (;;) {
      const std::size_t before = p.pos;
      p.skip_space();
      if (p.starts("/>")) {
        p.pos += 2;
        empty = true;
        break;
      }
      if (p.starts(">")) {
        p.pos++;
        break;
      }
      if (p.pos == before) return p.fail("a blank expected between attributes");
      std::string attribute;
      if (!p.name(attribute)) return false;
      p.skip_space();
      if (p.pos >= text.size() || text[p.pos] != '=') return p.fail("'=' expected after " + attribute);
      p.pos++;
      p.skip_space();
      if (p.pos >= text.size() || (text[p.pos] != '"' && text[p.pos] != '\'')) return p.fail("a quoted value expected");
      const char quote = text[p.pos++];
      std::string value;
      if (!p.chars(quote, value)) return false;
      if (p.pos >= text.size()) return p.fail("an unclosed attribute value");
      p.pos++;
      if (!element.attributes.emplace(attribute, value).second) return p.fail("attribute " + attribute + " twice");
    }
    const int id = static_cast<int>(doc.elements.size());
    if (current >= 0) doc.elements[current].children.push_back(id);
    doc.elements.push_back(std::move(element));
    if (!empty) current = id;
    else if (current < 0) root_closed = true;
  }
  if (current >= 0) return p.fail("<" + doc.elements[current].name + "> is never closed");
  if (doc.elements.empty()) return p.fail("no root element");
  return true;
}

std::vector<int> WithClass(const XmlDocument& doc, const std::string& word) {
  std::vector<int> found;
  for (std::size_t i = 0; i < doc.elements.size(); i++) {
    auto cls = doc.elements[i].attributes.find("class");
    if (cls == doc.elements[i].attributes.end()) continue;
    std::istringstream words(cls->second);
    std::string w;
    while (words >> w)
      if (w == word) {
        found.push_back(static_cast<int>(i));
        break;
      }
  }
  return found;
}

std::vector<int> Named(const XmlDocument& doc, const std::string& name) {
  std::vector<int> found;
  for (std::size_t i = 0; i < doc.elements.size(); i++)
    if (doc.elements[i].name == name) found.push_back(static_cast<int>(i));
  return found;
}

}  // namespace companions_test
