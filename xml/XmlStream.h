#pragma once
// Reading a document as a stream of element starts, texts and element ends, without building a tree: an
// answer of 100,000 entries read this way costs its entries, not a node per element.
#include <string>
#include <string_view>

namespace velmora::xml {

class XmlStreamHandler {
public:
    virtual ~XmlStreamHandler() = default;
    virtual void StartElement(std::string_view name) = 0;
    // One piece of an element's text, references resolved and line ends made "\n", as XmlDocument keeps
    // it: whitespace alone between elements is left out.
    virtual void Text(std::string_view text) = 0;
    virtual void EndElement() = 0;
};

// Reads the document's root element through the handler. Only the plain forms are read: elements with
// attributes, text with the five named references and character references, comments, an XML declaration
// at the start. Anything else (a document type, CDATA, processing instructions, unknown references, text
// or a second element outside the root, any syntax error, a NUL character) gives up and returns false, and
// what the handler was told so far must be thrown away: the caller reads such a document with XmlDocument,
// which decides about it as it always did.
bool ReadXmlStream(std::string_view document, XmlStreamHandler& handler);

} // namespace velmora::xml
