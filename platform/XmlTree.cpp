#include "platform/XmlTree.h"

#include <charconv>

namespace quelt::xml {

namespace {

// Deeper nesting than any real bookmark file has; past it the text is refused rather than
// recursed into.
constexpr int kMaxDepth = 200;

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c) {
  return !isBlank(c) && c != '/' && c != '>' && c != '=' && c != '<' && c != '"' && c != '\'';
}

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

class TParser {
 public:
  explicit TParser(std::string_view text) : text_(text) {}

  TDocument document() {
    TDocument doc;
    size_t start = pos_;
    skipMisc(true);
    doc.prolog = std::string(text_.substr(start, pos_ - start));
    if (!at("<")) fail("no root element");
    doc.root = element(0);
    start = pos_;
    skipMisc(false);
    if (pos_ != text_.size()) fail("text after the root element");
    doc.epilog = std::string(text_.substr(start));
    return doc;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) line += text_[i] == '\n';
    throw EXmlError("Malformed XML at line " + std::to_string(line) + ": " + what);
  }
  bool at(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }
  // Moves past `end`, which must come.
  void skipPast(std::string_view end, const char* what) {
    size_t found = text_.find(end, pos_);
    if (found == std::string_view::npos) fail(std::string("unclosed ") + what);
    pos_ = found + end.size();
  }
  void skipBlanks() {
    while (pos_ < text_.size() && isBlank(text_[pos_])) ++pos_;
  }

  // Blanks, comments and processing instructions; a document type only before the root.
  void skipMisc(bool prolog) {
    while (true) {
      skipBlanks();
      if (at("<!--")) {
        skipPast("-->", "comment");
      } else if (at("<?")) {
        skipPast("?>", "processing instruction");
      } else if (prolog && at("<!DOCTYPE")) {
        // An internal subset may hold ">" inside its brackets.
        size_t bracket = text_.find('[', pos_), close = text_.find('>', pos_);
        if (bracket < close) skipPast("]", "document type");
        skipPast(">", "document type");
      } else {
        return;
      }
    }
  }

  std::string name() {
    size_t start = pos_;
    while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
    if (pos_ == start) fail("a name is missing");
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string decode(std::string_view raw) const {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        out.push_back(raw[i]);
        continue;
      }
      size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos) fail("an unfinished reference");
      std::string_view ref = raw.substr(i + 1, semi - i - 1);
      if (ref == "lt") {
        out.push_back('<');
      } else if (ref == "gt") {
        out.push_back('>');
      } else if (ref == "amp") {
        out.push_back('&');
      } else if (ref == "quot") {
        out.push_back('"');
      } else if (ref == "apos") {
        out.push_back('\'');
      } else if (ref.size() > 1 && ref[0] == '#') {
        bool hex = ref[1] == 'x';
        std::string_view digits = ref.substr(hex ? 2 : 1);
        uint32_t cp = 0;
        auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
        if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
            cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
          fail("a bad character reference");
        appendUtf8(out, cp);
      } else {
        fail("an unknown entity &" + std::string(ref) + ";");
      }
      i = semi;
    }
    return out;
  }

  TNode element(int depth) {
    if (depth > kMaxDepth) fail("elements nested too deeply");
    size_t start = pos_;
    ++pos_;  // '<'
    TNode node;
    node.kind = TNode::TKind::Element;
    node.name = name();
    while (true) {
      skipBlanks();
      if (at("/>")) {
        pos_ += 2;
        node.source = std::string(text_.substr(start, pos_ - start));
        return node;
      }
      if (at(">")) {
        ++pos_;
        break;
      }
      TAttribute attr;
      attr.name = name();
      skipBlanks();
      if (!at("=")) fail("an attribute without a value");
      ++pos_;
      skipBlanks();
      if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) fail("no quote");
      char quote = text_[pos_++];
      size_t close = text_.find(quote, pos_);
      if (close == std::string_view::npos) fail("an unclosed attribute value");
      std::string_view raw = text_.substr(pos_, close - pos_);
      if (raw.find('<') != std::string_view::npos) fail("\"<\" in an attribute value");
      attr.value = decode(raw);
      pos_ = close + 1;
      node.attributes.push_back(std::move(attr));
    }
    content(node, depth);
    node.source = std::string(text_.substr(start, pos_ - start));
    return node;
  }

  void content(TNode& node, int depth) {
    while (true) {
      if (pos_ >= text_.size()) fail("<" + node.name + "> is not closed");
      size_t start = pos_;
      if (at("</")) {
        pos_ += 2;
        if (name() != node.name) fail("</...> does not close <" + node.name + ">");
        skipBlanks();
        if (!at(">")) fail("an unfinished end tag");
        ++pos_;
        return;
      }
      if (at("<!--")) {
        skipPast("-->", "comment");
      } else if (at("<![CDATA[")) {
        skipPast("]]>", "CDATA section");
      } else if (at("<?")) {
        skipPast("?>", "processing instruction");
      } else if (at("<")) {
        node.children.push_back(element(depth + 1));
        continue;
      } else {
        size_t lt = text_.find('<', pos_);
        pos_ = lt == std::string_view::npos ? text_.size() : lt;
        decode(text_.substr(start, pos_ - start));  // only to check its references
        TNode text = TNode::Raw(std::string(text_.substr(start, pos_ - start)));
        text.kind = TNode::TKind::Text;
        node.children.push_back(std::move(text));
        continue;
      }
      node.children.push_back(TNode::Raw(std::string(text_.substr(start, pos_ - start))));
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

bool dirty(const TNode& node) {
  if (node.kind != TNode::TKind::Element) return false;
  if (node.changed || node.source.empty()) return true;
  for (const auto& child : node.children)
    if (dirty(child)) return true;
  return false;
}

void write(const TNode& node, std::string& out) {
  if (!dirty(node)) {
    out += node.source;
    return;
  }
  out += "<" + node.name;
  for (const auto& a : node.attributes) out += " " + a.name + "=\"" + Escape(a.value) + "\"";
  if (node.children.empty()) {
    out += "/>";
    return;
  }
  out += ">";
  for (const auto& child : node.children) write(child, out);
  out += "</" + node.name + ">";
}

bool allBlank(std::string_view text) {
  for (char c : text)
    if (!isBlank(c)) return false;
  return true;
}

}  // namespace

TNode TNode::Element(std::string name) {
  TNode node;
  node.kind = TKind::Element;
  node.name = std::move(name);
  node.changed = true;
  return node;
}

TNode TNode::Raw(std::string text) {
  TNode node;
  node.kind = TKind::Markup;
  node.source = std::move(text);
  return node;
}

const std::string* TNode::Attribute(std::string_view attrName) const {
  for (const auto& a : attributes)
    if (a.name == attrName) return &a.value;
  return nullptr;
}

void TNode::SetAttribute(std::string_view attrName, std::string value) {
  changed = true;
  for (auto& a : attributes) {
    if (a.name == attrName) {
      a.value = std::move(value);
      return;
    }
  }
  attributes.push_back({std::string(attrName), std::move(value)});
}

TNode* TNode::Child(std::string_view childName) {
  for (auto& child : children)
    if (child.kind == TKind::Element && child.name == childName) return &child;
  return nullptr;
}

TNode& TNode::AppendChild(TNode child, std::string_view indent) {
  // Keeps the closing tag on its own line when it was: the new child goes before that
  // trailing line break.
  std::string tail;
  if (!children.empty() && children.back().kind != TKind::Element &&
      allBlank(children.back().source)) {
    tail = children.back().source;
    children.pop_back();
  }
  if (!indent.empty()) children.push_back(Raw("\n" + std::string(indent)));
  children.push_back(std::move(child));
  size_t added = children.size() - 1;
  if (!tail.empty()) children.push_back(Raw(tail));
  return children[added];
}

TDocument Parse(std::string_view text) {
  return TParser(text).document();
}

std::string Serialize(const TDocument& doc) {
  std::string out = doc.prolog;
  write(doc.root, out);
  out += doc.epilog;
  return out;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      // Kept as references: a reader would turn them into blanks in an attribute.
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace quelt::xml
