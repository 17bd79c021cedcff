// The XML document and element wrapper over pugixml.
#include "xml/XmlDocument.h"

#include <pugixml.hpp>
#include <cstring>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace velmora::xml {

namespace {

pugi::xml_node Node(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;

} // namespace

std::string XmlElement::Name() const { return node_ ? Node(node_).name() : std::string(); }

XmlElement XmlElement::Child(const std::string& name) const {
    if (!node_) return {};
    return XmlElement(Node(node_).child(name.c_str()).internal_object());
}

XmlElement XmlElement::ChildNoCase(const std::string& name) const {
    if (!node_) return {};
    for (pugi::xml_node c = Node(node_).first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && platform::EqualsNoCase(c.name(), name)) return XmlElement(c.internal_object());
    }
    return {};
}

std::vector<XmlElement> XmlElement::Children() const {
    std::vector<XmlElement> out;
    if (!node_) return out;
    for (pugi::xml_node c = Node(node_).first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) out.push_back(XmlElement(c.internal_object()));
    return out;
}

std::vector<XmlElement> XmlElement::Children(const std::string& name) const {
    std::vector<XmlElement> out;
    if (!node_) return out;
    for (pugi::xml_node c = Node(node_).child(name.c_str()); c; c = c.next_sibling(name.c_str()))
        out.push_back(XmlElement(c.internal_object()));
    return out;
}

std::string XmlElement::Text() const {
    if (!node_) return {};
    // A read-only document holds an element's leading text in the element (empty otherwise).
    std::string text = Node(node_).value();
    for (pugi::xml_node c = Node(node_).first_child(); c; c = c.next_sibling()) {
        switch (c.type()) {
        case pugi::node_pcdata:
        case pugi::node_cdata: text += c.value(); break;
        case pugi::node_element:
            throw EXmlError("Element \"" + Name() + "\" holds child elements, not text");
        default: break;
        }
    }
    return text;
}

std::string XmlElement::TextContent() const {
    if (!node_) return {};
    // Walked without recursion: an answer nested a million levels deep must not exhaust the stack.
    // A document parsed in place keeps an element's leading text as the element's value.
    const pugi::xml_node top = Node(node_);
    std::string text = top.value();
    pugi::xml_node n = top.first_child();
    while (n) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata || n.type() == pugi::node_element)
            text += n.value();
        if (n.type() == pugi::node_element && n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != top && !n.next_sibling()) n = n.parent();
        if (!n || n == top) break;
        n = n.next_sibling();
    }
    return text;
}

std::string XmlElement::ChildText(const std::string& name) const { return Child(name).Text(); }

void XmlElement::SetText(const std::string& text) {
    if (!node_) throw EXmlError("Cannot set the text of an absent element");
    pugi::xml_node n = Node(node_);
    while (n.first_child()) n.remove_child(n.first_child());
    n.append_child(pugi::node_pcdata).set_value(text.c_str());
}

void XmlElement::SetChildText(const std::string& name, const std::string& text) {
    XmlElement c = Child(name);
    if (!c) c = AppendChild(name);
    c.SetText(text);
}

XmlElement XmlElement::AppendChild(const std::string& name) {
    if (!node_) throw EXmlError("Cannot add a child to an absent element");
    return XmlElement(Node(node_).append_child(name.c_str()).internal_object());
}

XmlElement XmlElement::InsertChild(const std::string& name, size_t index) {
    std::vector<XmlElement> same = Children(name);
    if (index >= same.size()) return AppendChild(name);
    pugi::xml_node before = Node(same[index].node_);
    return XmlElement(Node(node_).insert_child_before(name.c_str(), before).internal_object());
}

XmlDocument::XmlDocument() : doc_(std::make_unique<pugi::xml_document>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::TryLoadFromString(const std::string& utf8, std::string* error) {
    pugi::xml_parse_result r = doc_->load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
    return Loaded(static_cast<bool>(r), r.description(), static_cast<size_t>(r.offset), error);
}

bool XmlDocument::TryLoadReadOnly(std::string&& utf8, std::string* error) {
    doc_->reset();
    text_ = std::move(utf8);
    pugi::xml_parse_result r = doc_->load_buffer_inplace(text_.data(), text_.size(),
                                                         kParseOptions | pugi::parse_embed_pcdata, pugi::encoding_utf8);
    return Loaded(static_cast<bool>(r), r.description(), static_cast<size_t>(r.offset), error);
}

bool XmlDocument::Loaded(bool ok, const char* description, size_t offset, std::string* error) {
    if (!ok) {
        if (error) *error = std::string(description) + " at offset " + std::to_string(offset);
        return false;
    }
    if (!doc_->document_element()) {
        if (error) *error = "no root element";
        return false;
    }
    return true;
}

void XmlDocument::LoadFromString(const std::string& utf8) {
    std::string error;
    if (!TryLoadFromString(utf8, &error)) throw EXmlError("XML could not be read: " + error);
}

void XmlDocument::LoadFromFile(const std::string& path) {
    std::string bytes = platform::ReadWholeFile(path);
    // Let the parser detect the encoding from the declaration or byte-order mark.
    pugi::xml_parse_result r = doc_->load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
    if (!r) throw EXmlError("XML file \"" + path + "\" could not be read: " + r.description() +
                            " at offset " + std::to_string(r.offset));
    if (!doc_->document_element()) throw EXmlError("XML file \"" + path + "\" has no root element");
}

XmlElement XmlDocument::Root() const { return XmlElement(doc_->document_element().internal_object()); }

} // namespace velmora::xml
