// Loopback sockets for tests that play a peer byte by byte.
#include "tests/TestSockets.h"

#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace velmora::test {

namespace {

#ifdef _WIN32
using Native = SOCKET;
const int kShutBoth = SD_BOTH;
const int kNoSignal = 0;
void CloseNative(Native s) { closesocket(s); }
// Winsock needs starting once per process; the count is never dropped, the process ends first.
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("Winsock cannot be started");
}
#else
using Native = int;
const int kShutBoth = SHUT_RDWR;
const int kNoSignal = MSG_NOSIGNAL;
void CloseNative(Native s) { ::close(s); }
void StartSockets() {}
#endif

Native ToNative(intptr_t c) { return static_cast<Native>(c); }

// Binds a fresh socket to 127.0.0.1:0 and returns it with the port it got, or -1.
intptr_t BindLoopback(int& port) {
    StartSockets();
    Native s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == static_cast<Native>(-1)) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        CloseNative(s);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return static_cast<intptr_t>(s);
}

} // namespace

int ClosedLoopbackPort() {
    int port = 0;
    intptr_t s = BindLoopback(port);
    if (s == -1) throw std::runtime_error("no loopback port can be bound");
    CloseNative(ToNative(s));
    return port;
}

LoopbackListener::LoopbackListener() {
    listen_ = BindLoopback(port_);
    if (listen_ == -1 || ::listen(ToNative(listen_), 4) != 0) {
        if (listen_ != -1) CloseNative(ToNative(listen_));
        throw std::runtime_error("the loopback listener cannot listen");
    }
}

LoopbackListener::~LoopbackListener() { CloseNative(ToNative(listen_)); }

LoopbackListener::Connection LoopbackListener::Accept() {
    Native c = ::accept(ToNative(listen_), nullptr, nullptr);
    return c == static_cast<Native>(-1) ? -1 : static_cast<Connection>(c);
}

void LoopbackListener::Shutdown() {
    ::shutdown(ToNative(listen_), kShutBoth);
#ifdef _WIN32
    // Winsock does not wake a blocked accept on shutdown; closing the socket does.
    CloseNative(ToNative(listen_));
    listen_ = static_cast<Connection>(INVALID_SOCKET);
#endif
}

long LoopbackListener::Receive(Connection c, char* buffer, size_t size) {
    return static_cast<long>(::recv(ToNative(c), buffer, static_cast<int>(size), 0));
}

void LoopbackListener::SendAll(Connection c, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        auto n = ::send(ToNative(c), bytes.data() + sent, static_cast<int>(bytes.size() - sent), kNoSignal);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

void LoopbackListener::Close(Connection c) { CloseNative(ToNative(c)); }

} // namespace velmora::test
