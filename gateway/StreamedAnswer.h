#pragma once
// An answer document read without a tree: the root's single values and the entries of its list, each
// value as the answer readers need it.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::gateway {

// One value: whether the element is there, its text content (every text below it) and whether it holds
// elements (then it is no number).
struct TStreamedValue {
    bool Present = false;
    bool HoldsElements = false;
    std::string Text;
};

struct TAnswerShape {
    std::vector<std::string_view> TopNames;    // children of the root read as values
    std::string_view ListName;                 // the child of the root whose children are the entries
    std::vector<std::string_view> EntryNames;  // children of each entry read as values
};

// Reads the document as the tree readers do, names compared without regard to case, the first element of
// a name counting: top gets the root's first child of each of TopNames, listPresent tells whether the root
// has a ListName child, and onEntry is called for every element child of the first one, in document order,
// with the entry's values in the order of EntryNames. False when the document is not in the plain forms
// the stream reader takes; then nothing read may be used, and the document is read as a tree instead.
bool ReadStreamedAnswer(std::string_view document, const TAnswerShape& shape, std::vector<TStreamedValue>& top,
                        bool& listPresent, const std::function<void(std::vector<TStreamedValue>&)>& onEntry);

} // namespace velmora::gateway
