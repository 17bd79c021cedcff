// Loopback TCP for the SQL Server simulator (Winsock or POSIX sockets).
#include "tools/sqlserversim/SimSockets.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace velmora::sqlsim {

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
const int kShutBoth = SD_BOTH;
const int kNoSignal = 0;
void CloseNative(NativeSocket s) { closesocket(s); }
bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using NativeSocket = int;
const int kShutBoth = SHUT_RDWR;
const int kNoSignal = MSG_NOSIGNAL;
void CloseNative(NativeSocket s) { ::close(s); }
bool StartSockets() { return true; }
#endif

NativeSocket N(intptr_t s) { return static_cast<NativeSocket>(s); }

} // namespace

bool Socket::Listen(int port) {
    if (!StartSockets()) return false;
    NativeSocket s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == static_cast<NativeSocket>(-1)) return false;
    int yes = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 16) != 0) {
        CloseNative(s);
        return false;
    }
    s_ = static_cast<Native>(s);
    return true;
}

int Socket::LocalPort() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(N(s_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

Socket::Native Socket::Accept() {
    NativeSocket c = ::accept(N(s_), nullptr, nullptr);
    if (c == static_cast<NativeSocket>(-1)) return -1;
    int yes = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
    return static_cast<Native>(c);
}

bool Socket::ReceiveAll(char* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        auto r = ::recv(N(s_), buffer + got, static_cast<int>(n - got), 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool Socket::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        auto n = ::send(N(s_), bytes.data() + sent, static_cast<int>(bytes.size() - sent), kNoSignal);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool Socket::Readable(int milliseconds) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(N(s_), &set);
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &tv) > 0;
#else
    pollfd p{N(s_), POLLIN, 0};
    return ::poll(&p, 1, milliseconds) > 0;
#endif
}

void Socket::Shutdown() {
    if (s_ != -1) ::shutdown(N(s_), kShutBoth);
}

void Socket::Close() {
    if (s_ != -1) CloseNative(N(s_));
    s_ = -1;
}

} // namespace velmora::sqlsim
