#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::release {

// A name with its prefix resolved: the namespace URI it is bound to (for an element without a
// prefix, the default namespace), empty for none.
struct XmlName {
    std::string space;
    std::string local;

    bool Is(std::string_view inSpace, std::string_view name) const { return space == inSpace && local == name; }
};

struct XmlAttribute {
    XmlName name;
    std::string value;  // references replaced
};

// One element as its start tag gives it; namespace declarations are not among its attributes.
struct XmlElement {
    XmlName name;
    std::vector<XmlAttribute> attributes;

    // The value of the attribute `local` in no namespace, or null.
    const std::string* Attribute(std::string_view local) const;
};

// Text that is not well-formed XML with namespaces; the message says what and at which byte.
struct XmlError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads a UTF-8 document (elements, attributes, namespace declarations, comments, CDATA
// sections, processing instructions, character references and the five predefined entities)
// and calls `onStart` at every start tag with the open elements, outermost first, the new one
// last. Comments, CDATA and text are skipped. Throws XmlError at the first fault: a document
// type declaration, an undeclared prefix, a repeated attribute, a mismatched end tag, a second
// root, elements nested deeper than 256 or with more than 256 attributes, and so on. Linear in
// the length of the text.
void ReadXml(std::string_view text, const std::function<void(const std::vector<XmlElement>& open)>& onStart);

}  // namespace tavro::release
