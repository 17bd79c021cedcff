// COM initialisation per thread (nothing to do off Windows).
#include "platform/Com.h"

#ifdef _WIN32
#include <objbase.h>
#endif

namespace velmora::platform {

#ifdef _WIN32
void ComInitialize() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
void ComUninitialize() { CoUninitialize(); }
#else
void ComInitialize() {}
void ComUninitialize() {}
#endif

} // namespace velmora::platform
