// The POSIX transport under TCPIP: non-blocking IPv4 sockets, the default
// one, and the installed-transport switch.
#include "tcpip_transport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

sockaddr_in make_addr(INT_U32 ip, INT_U16 port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons(port);
    return a;
}

bool would_block()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

class POSIX_TRANSPORT : public TCPIP_TRANSPORT
{
public:
    int open_endpoint(bool udp) override
    {
        int fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return -1;
        }
        int on = 1;
        if (udp && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    void close_endpoint(int h) override
    {
        if (h >= 0) {
            close(h);
        }
    }

    bool bind_endpoint(int h, INT_U32 ip, INT_U16 port, bool listen_too) override
    {
        int on = 1;
        if (listen_too && setsockopt(h, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            return false;
        }
        sockaddr_in a = make_addr(ip, port);
        if (bind(h, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            return false;
        }
        return !listen_too || listen(h, 1) == 0;
    }

    int connect_endpoint(int h, INT_U32 ip, INT_U16 port) override
    {
        sockaddr_in a = make_addr(ip, port);
        if (connect(h, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            return 0;
        }
        return errno == EINPROGRESS || errno == EINTR ? 1 : -1;
    }

    bool connect_finished(int h) override
    {
        int err = 0;
        socklen_t sz = sizeof err;
        return getsockopt(h, SOL_SOCKET, SO_ERROR, &err, &sz) == 0 && err == 0;
    }

    int wait_endpoint(int h, bool for_write, INT_U32 timeout_ms) override
    {
        pollfd p;
        p.fd = h;
        p.events = for_write ? POLLOUT : POLLIN;
        p.revents = 0;
        int timeout = timeout_ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeout_ms);
        int r = poll(&p, 1, timeout);
        if (r < 0) {
            return errno == EINTR ? 0 : -1;
        }
        return r > 0 ? 1 : 0;
    }

    int accept_endpoint(int h) override { return accept4(h, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

    long send_bytes(int h, const void* data, long len) override
    {
        ssize_t n = ::send(h, data, static_cast<std::size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        return would_block() ? TRANSPORT_WOULD_BLOCK : TRANSPORT_ERROR;
    }

    long receive_bytes(int h, void* buffer, long len) override
    {
        ssize_t n = recv(h, buffer, static_cast<std::size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n == 0) {
            return TRANSPORT_PEER_CLOSED;
        }
        if (errno == ECONNRESET) {
            return TRANSPORT_PEER_RESET;
        }
        return would_block() ? TRANSPORT_WOULD_BLOCK : TRANSPORT_ERROR;
    }

    long send_datagram(int h, const void* data, long len, INT_U32 ip, INT_U16 port) override
    {
        sockaddr_in a = make_addr(ip, port);
        ssize_t n = sendto(h, data, static_cast<std::size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL,
                           reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        return would_block() ? TRANSPORT_WOULD_BLOCK : TRANSPORT_ERROR;
    }

    long receive_datagram(int h, void* buffer, long len, INT_U32* ip, INT_U16* port) override
    {
        sockaddr_in a;
        socklen_t sz = sizeof a;
        std::memset(&a, 0, sizeof a);
        ssize_t n =
            recvfrom(h, buffer, static_cast<std::size_t>(len), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &sz);
        if (n < 0) {
            return would_block() ? TRANSPORT_WOULD_BLOCK : TRANSPORT_ERROR;
        }
        *ip = ntohl(a.sin_addr.s_addr);
        *port = ntohs(a.sin_port);
        return static_cast<long>(n);
    }

    bool peer_address(int h, INT_U32* ip, INT_U16* port) override
    {
        sockaddr_in a;
        socklen_t sz = sizeof a;
        if (getpeername(h, reinterpret_cast<sockaddr*>(&a), &sz) != 0 || a.sin_family != AF_INET) {
            return false;
        }
        *ip = ntohl(a.sin_addr.s_addr);
        *port = ntohs(a.sin_port);
        return true;
    }

    bool host_name(char* buffer, std::size_t size) override
    {
        if (size == 0 || gethostname(buffer, size) != 0) {
            return false;
        }
        buffer[size - 1] = 0; // gethostname leaves a cut name unterminated
        return buffer[0] != 0;
    }

    bool resolve(const char* name, INT_U32* ip) override
    {
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        addrinfo* res = nullptr;
        if (getaddrinfo(name, nullptr, &hints, &res) != 0 || !res) {
            return false;
        }
        bool ok = false;
        for (addrinfo* r = res; r && !ok; r = r->ai_next) {
            if (r->ai_family == AF_INET && r->ai_addrlen >= sizeof(sockaddr_in)) {
                *ip = ntohl(reinterpret_cast<sockaddr_in*>(r->ai_addr)->sin_addr.s_addr);
                ok = true;
            }
        }
        freeaddrinfo(res);
        return ok;
    }

    INT_U64 now_ms() override
    {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<INT_U64>(t.tv_sec) * 1000u + static_cast<INT_U64>(t.tv_nsec) / 1000000u;
    }
};

// Built on first use (the global tcpip's constructor, before main); it has
// no state, so being destroyed late costs nothing.
POSIX_TRANSPORT& posix_transport()
{
    static POSIX_TRANSPORT t;
    return t;
}

TCPIP_TRANSPORT* installed = nullptr;

} // namespace

TCPIP_TRANSPORT* tcpip_set_transport(TCPIP_TRANSPORT* transport)
{
    TCPIP_TRANSPORT* old = tcpip_transport();
    installed = transport;
    return old;
}

TCPIP_TRANSPORT* tcpip_transport()
{
    return installed ? installed : &posix_transport();
}
