#pragma once
// Component object model initialisation for the calling thread; a no-op off Windows.
namespace velmora::platform {

void ComInitialize();    // CoInitializeEx(nullptr, COINIT_MULTITHREADED)
void ComUninitialize();  // CoUninitialize

// Scope guard for one initialise/uninitialise pair.
class ComScope {
public:
    ComScope() { ComInitialize(); }
    ~ComScope() { ComUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

} // namespace velmora::platform
