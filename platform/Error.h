#pragma once
// Failures are error objects carrying a message text; every boundary keeps only that text.
#include <stdexcept>
#include <string>

namespace velmora {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

class EDatabaseError : public Error { using Error::Error; };
class EConvertError : public Error { using Error::Error; };
class EXmlError : public Error { using Error::Error; };
class EHttpError : public Error { using Error::Error; };
class ESoapFault : public Error { using Error::Error; };
class EFileError : public Error { using Error::Error; };

// Called while an error is handled: throws one of the same kind (the first of Kinds it is) with prefix in
// front of its message; an error of another kind goes on unchanged.
template <class Kind, class... Kinds>
[[noreturn]] void RethrowPrefixed(const std::string& prefix) {
    try {
        throw;
    } catch (const Kind& e) {
        throw Kind(prefix + e.what());
    } catch (...) {
        if constexpr (sizeof...(Kinds) > 0) RethrowPrefixed<Kinds...>(prefix);
        else throw;
    }
}

} // namespace velmora
