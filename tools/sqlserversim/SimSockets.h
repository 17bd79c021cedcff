#pragma once
// Loopback TCP for the SQL Server simulator: a listener, and connections with bounded waits.
#include <cstdint>
#include <string>

namespace velmora::sqlsim {

class Socket {
public:
    using Native = intptr_t;  // -1 for none
    Socket() = default;
    explicit Socket(Native s) : s_(s) {}
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Valid() const { return s_ != -1; }
    void Adopt(Native s) {
        Close();
        s_ = s;
    }
    // Listens on 127.0.0.1:port (0: any free port); returns false when it cannot.
    bool Listen(int port);
    int LocalPort() const;
    Socket::Native Accept();  // -1 once shut down
    // Exactly n bytes; false at the end of the stream or on error.
    bool ReceiveAll(char* buffer, size_t n);
    bool SendAll(const std::string& bytes);
    // True when bytes (or the end) can be read within the wait.
    bool Readable(int milliseconds);
    void Shutdown();  // wakes a pending Accept or Receive in another thread
    void Close();

private:
    Native s_ = -1;
};

} // namespace velmora::sqlsim
