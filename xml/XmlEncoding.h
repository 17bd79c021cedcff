#pragma once
// The encoding an XML text declares, and turning a document held as Unicode text back into its bytes.
#include <string>

namespace velmora::xml {

// The encoding named in the XML declaration at the start of the bytes, in small letters; empty when
// there is none.
std::string DeclaredEncoding(const std::string& bytes);

// A document held as text (UTF-8 here) as the bytes its declaration names: UTF-16 with a byte-order
// mark, Windows-1254, ISO-8859-9 or Latin-1 (characters those lack become character references), and
// UTF-8 for any other or no declaration. A text column gives a document as characters, while its
// declaration still tells a reader how to decode the bytes.
std::string EncodeAsDeclared(const std::string& utf8Document);

} // namespace velmora::xml
