#pragma once
// The one escaper of XML text: the five characters & < > " ' as entity references, and a chosen
// treatment of carriage returns.
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::xml {

// A parser folds a raw CR (and CR LF) into LF. Keep leaves it to the parser; AsLineFeed writes LF
// itself; AsReference writes "&#13;" so the text arrives as it was.
enum class CarriageReturns { Keep, AsLineFeed, AsReference };

// The length of the escaped text, so a writer can reserve it exactly.
size_t EscapedXmlTextLength(std::string_view text, CarriageReturns cr = CarriageReturns::Keep);
void AppendEscapedXmlText(std::string& out, std::string_view text, CarriageReturns cr = CarriageReturns::Keep);
std::string EscapeXmlText(std::string_view text);

} // namespace velmora::xml
