#pragma once
// Small helpers shared by the campaign routines.
#include <initializer_list>
#include <string>

namespace velmora::campaigns {

// Fills the "%d" and "%s" placeholders of a statement text in order with the given texts.
std::string FormatStatement(const std::string& pattern, std::initializer_list<std::string> values);

} // namespace velmora::campaigns
