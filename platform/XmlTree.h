// Just enough XML to update a file that other programs share: a tree of elements that keeps
// the original text of every part left alone, so that writing it back changes only what was
// changed. No namespaces (qualified names are compared as written), no DTD processing.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quelt::xml {

class EXmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TAttribute {
  std::string name;
  std::string value;  // with references decoded
};

struct TNode {
  enum class TKind { Element, Text, Markup };  // Markup: comments, CDATA, processing, made text
  TKind kind = TKind::Markup;
  std::string name;  // elements only
  std::vector<TAttribute> attributes;
  std::vector<TNode> children;
  std::string source;    // the node's text as read; for Text and Markup, what is written
  bool changed = false;  // the element's own tag must be written afresh

  static TNode Element(std::string name);
  // Text or markup written exactly as given (the caller escapes it).
  static TNode Raw(std::string text);

  const std::string* Attribute(std::string_view name) const;
  void SetAttribute(std::string_view name, std::string value);
  // The first child element of that name; nullptr when there is none.
  TNode* Child(std::string_view name);
  // Appends an element, indented like its earlier siblings when they are indented.
  TNode& AppendChild(TNode child, std::string_view indent);
};

struct TDocument {
  std::string prolog;  // declaration, comments and blanks before the root, as read
  TNode root;
  std::string epilog;
};

// Throws EXmlError saying where the text is not well-formed.
TDocument Parse(std::string_view text);
// Unchanged parts come out byte for byte as they were read.
std::string Serialize(const TDocument& doc);
// Escapes text for use inside an attribute value in double quotes, or as character data.
std::string Escape(std::string_view text);

}  // namespace quelt::xml
