#pragma once
// Bare loopback TCP for tests that need a peer the gateway simulator cannot play.
#include <cstdint>
#include <string>

namespace velmora::test {

// A loopback port nobody listens on: bound, read and closed again.
int ClosedLoopbackPort();

// A listening socket on 127.0.0.1 with a port of the system's choosing.
class LoopbackListener {
public:
    using Connection = intptr_t;  // -1 for none
    LoopbackListener();           // throws std::runtime_error when it cannot listen
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Port() const { return port_; }
    Connection Accept();  // -1 once Shutdown() was called
    void Shutdown();      // wakes a pending Accept

    // Bytes received (0 at the end, negative on error).
    static long Receive(Connection c, char* buffer, size_t size);
    static void SendAll(Connection c, const std::string& bytes);
    static void Close(Connection c);

private:
    Connection listen_ = -1;
    int port_ = 0;
};

} // namespace velmora::test
