#pragma once
// The XML document model: parse text into elements, find children by name, read and set texts.
// pugixml does the parsing; nothing outside this folder sees it.
#include <memory>
#include <string>
#include <vector>

namespace pugi { class xml_document; class xml_node_struct; }

namespace velmora::xml {

class XmlDocument;

// A handle to one element; empty when it stands for an absent element.
class XmlElement {
public:
    XmlElement() = default;
    bool Empty() const { return node_ == nullptr; }
    explicit operator bool() const { return node_ != nullptr; }

    std::string Name() const;
    // The first direct child element of that name (exact match), or an empty handle.
    XmlElement Child(const std::string& name) const;
    // The same, letters compared without regard to case.
    XmlElement ChildNoCase(const std::string& name) const;
    std::vector<XmlElement> Children() const;                 // element children, document order
    std::vector<XmlElement> Children(const std::string& name) const;

    // The text content with references resolved; empty for an empty element.
    // Throws EXmlError when the element holds child elements instead of text.
    std::string Text() const;
    // Every text below the element, child elements' included, in document order ("a<i>x</i>c" gives "axc").
    std::string TextContent() const;
    // The text of the named child; empty when the child is absent.
    std::string ChildText(const std::string& name) const;

    // Sets the element's text (replacing its content).
    void SetText(const std::string& text);
    // Sets the text of the named child, creating the child when it is absent.
    void SetChildText(const std::string& name, const std::string& text);
    XmlElement AppendChild(const std::string& name);
    // Inserts a new child of that name before the index-th child of the same name (at the end past the last).
    XmlElement InsertChild(const std::string& name, size_t index);

private:
    friend class XmlDocument;
    explicit XmlElement(pugi::xml_node_struct* node) : node_(node) {}
    pugi::xml_node_struct* node_ = nullptr;
};

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Throw EXmlError with the parser's text (and EFileError when the file cannot be read).
    void LoadFromString(const std::string& utf8);
    void LoadFromFile(const std::string& path);
    // Non-throwing variant for lenient readers.
    bool TryLoadFromString(const std::string& utf8, std::string* error = nullptr);
    // The same for a document that is only read, such as a gateway answer of 100,000 entries: parsed in
    // place in the text it is given (the document keeps it), each element's text held in the element
    // itself instead of a node of its own. Elements read the same; such a document must not be changed.
    bool TryLoadReadOnly(std::string&& utf8, std::string* error = nullptr);

    XmlElement Root() const;  // the document element, empty when there is none

private:
    bool Loaded(bool ok, const char* description, size_t offset, std::string* error);
    std::unique_ptr<pugi::xml_document> doc_;
    std::string text_;  // the text a read-only document was parsed in
};

} // namespace velmora::xml
