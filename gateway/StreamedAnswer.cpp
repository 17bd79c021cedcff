// Reading an answer's values and list entries from the stream of its elements.
#include "gateway/StreamedAnswer.h"

#include "platform/Text.h"
#include "xml/XmlStream.h"

namespace velmora::gateway {

namespace {

// Index of the name among names, or names.size().
size_t Find(const std::vector<std::string_view>& names, std::string_view name) {
    for (size_t i = 0; i < names.size(); ++i)
        if (platform::EqualsNoCase(names[i], name)) return i;
    return names.size();
}

class AnswerHandler : public xml::XmlStreamHandler {
public:
    AnswerHandler(const TAnswerShape& shape, std::vector<TStreamedValue>& top, bool& listPresent,
                  const std::function<void(std::vector<TStreamedValue>&)>& onEntry)
        : shape_(shape), top_(top), listPresent_(listPresent), onEntry_(onEntry), entry_(shape.EntryNames.size()) {}

    void StartElement(std::string_view name) override {
        ++depth_;
        if (value_) {
            // Inside a value: an element directly in it makes it no plain text.
            if (depth_ == valueDepth_ + 1) value_->HoldsElements = true;
            return;
        }
        if (depth_ == 2) {
            const size_t k = Find(shape_.TopNames, name);
            if (k < top_.size() && !top_[k].Present) Capture(top_[k]);
            else if (!listSeen_ && platform::EqualsNoCase(name, shape_.ListName)) inList_ = listSeen_ = listPresent_ = true;
        } else if (depth_ == 3 && inList_) {
            for (TStreamedValue& v : entry_) v = TStreamedValue{};
            inEntry_ = true;
        } else if (depth_ == 4 && inEntry_) {
            const size_t k = Find(shape_.EntryNames, name);
            if (k < entry_.size() && !entry_[k].Present) Capture(entry_[k]);
        }
    }

    void Text(std::string_view text) override {
        if (value_) value_->Text.append(text);
    }

    void EndElement() override {
        if (value_ && depth_ == valueDepth_) value_ = nullptr;
        if (depth_ == 3 && inEntry_) {
            inEntry_ = false;
            onEntry_(entry_);
        } else if (depth_ == 2) {
            inList_ = false;
        }
        --depth_;
    }

private:
    void Capture(TStreamedValue& v) {
        v.Present = true;
        value_ = &v;
        valueDepth_ = depth_;
    }

    const TAnswerShape& shape_;
    std::vector<TStreamedValue>& top_;
    bool& listPresent_;
    const std::function<void(std::vector<TStreamedValue>&)>& onEntry_;
    std::vector<TStreamedValue> entry_;
    size_t depth_ = 0;
    TStreamedValue* value_ = nullptr;  // the value whose text is being gathered
    size_t valueDepth_ = 0;
    bool listSeen_ = false, inList_ = false, inEntry_ = false;
};

} // namespace

bool ReadStreamedAnswer(std::string_view document, const TAnswerShape& shape, std::vector<TStreamedValue>& top,
                        bool& listPresent, const std::function<void(std::vector<TStreamedValue>&)>& onEntry) {
    top.assign(shape.TopNames.size(), TStreamedValue{});
    listPresent = false;
    AnswerHandler handler(shape, top, listPresent, onEntry);
    return xml::ReadXmlStream(document, handler);
}

} // namespace velmora::gateway
