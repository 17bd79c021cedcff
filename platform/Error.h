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

} // namespace velmora
