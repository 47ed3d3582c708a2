// TCPIP: the slot tables of stream, listen and UDP sockets over the
// installed transport, the send queues, the assembling receive and the
// name helpers; and the global tcpip.
#include "tcpip.h"

#include "debug_stream.h"
#include "errors.h"
#include "host_window.h"
#include "tcpip_transport.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// How long a connect, or a peer that takes nothing, may keep send waiting.
constexpr INT_U32 peer_timeout_ms = 10000;
// The queued length is an i16.
constexpr long max_queued = 32767;
constexpr INT_U32 broadcast_ip = 0xFFFFFFFFu;

} // namespace

struct TCPIP_ENDPOINT_SLOT
{
    int endpoint; // -1 = closed
    INT_U16 port;
};

struct TCPIP_STREAM_SLOT
{
    int endpoint;          // -1 = free
    unsigned char* buffer; // bufsize bytes
    INT_U16 received;      // bytes waiting in buffer
    unsigned char* queue;  // null when empty
    INT_S16 queued;
};

struct TCPIP_SOCKETS
{
    TCPIP_ENDPOINT_SLOT* listen;
    INT_U16 listen_count;
    TCPIP_ENDPOINT_SLOT* udp;
    INT_U16 udp_count;
    TCPIP_STREAM_SLOT* stream;
    INT_U16 stream_count;
    TCPIP_TRANSPORT* transport;
};

INT_U16 TCPIP::ip_count = 0;
INT_U8 TCPIP::ip_open = 0;

TCPIP tcpip(1, 0, 0, 2048);

namespace {

// calloc that treats a count of 0 as success; a failure is fatal.
template <typename T> T* alloc_table(INT_U16 count)
{
    if (count == 0) {
        return nullptr;
    }
    T* p = static_cast<T*>(std::calloc(count, sizeof(T)));
    if (!p) {
        display_error(ERR_TCPIP_MEMORY);
    }
    return p;
}

TCPIP_STREAM_SLOT* stream_slot(TCPIP_SOCKETS* s, short id)
{
    if (!s || id < 0 || id >= s->stream_count) {
        return nullptr;
    }
    return &s->stream[id];
}

TCPIP_STREAM_SLOT* open_stream_slot(TCPIP_SOCKETS* s, short id)
{
    TCPIP_STREAM_SLOT* slot = stream_slot(s, id);
    return slot && slot->endpoint >= 0 ? slot : nullptr;
}

void format_ip(char* out, std::size_t size, INT_U32 ip)
{
    in_addr a;
    a.s_addr = htonl(ip);
    if (!inet_ntop(AF_INET, &a, out, static_cast<socklen_t>(size))) {
        out[0] = 0;
    }
}

bool parse_dotted(const char* text, INT_U32* ip)
{
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1) {
        return false;
    }
    *ip = ntohl(a.s_addr);
    return true;
}

} // namespace

TCPIP::TCPIP(INT_U16 stream_count, INT_U16 listen_count, INT_U16 udp_count, INT_U16 buffer_size)
    : sockets(nullptr), bufsize(buffer_size)
{
    if (buffer_size == 0) {
        display_error(ERR_TCPIP_BUFFER_SIZE);
    }
    sockets = static_cast<TCPIP_SOCKETS*>(std::calloc(1, sizeof(TCPIP_SOCKETS)));
    if (!sockets) {
        display_error(ERR_TCPIP_MEMORY);
    }
    sockets->transport = tcpip_transport();
    sockets->listen = alloc_table<TCPIP_ENDPOINT_SLOT>(listen_count);
    sockets->listen_count = listen_count;
    sockets->udp = alloc_table<TCPIP_ENDPOINT_SLOT>(udp_count);
    sockets->udp_count = udp_count;
    sockets->stream = alloc_table<TCPIP_STREAM_SLOT>(stream_count);
    sockets->stream_count = stream_count;
    for (INT_U16 i = 0; i < listen_count; ++i) {
        sockets->listen[i].endpoint = -1;
    }
    for (INT_U16 i = 0; i < udp_count; ++i) {
        sockets->udp[i].endpoint = -1;
    }
    for (INT_U16 i = 0; i < stream_count; ++i) {
        sockets->stream[i].endpoint = -1;
        sockets->stream[i].buffer = static_cast<unsigned char*>(std::malloc(buffer_size));
        if (!sockets->stream[i].buffer) {
            display_error(ERR_TCPIP_MEMORY);
        }
    }
    ++ip_count;
}

TCPIP::~TCPIP()
{
    close_stream_socket(-1);
    close_stream_listen_sockets(0);
    close_udp_sockets(0);
    for (INT_U16 i = 0; i < sockets->stream_count; ++i) {
        std::free(sockets->stream[i].buffer);
    }
    std::free(sockets->stream);
    std::free(sockets->udp);
    std::free(sockets->listen);
    std::free(sockets);
    sockets = nullptr;
    if (ip_count > 0) {
        --ip_count;
    }
    if (ip_count == 0) {
        ip_open = 0;
    }
}

bool TCPIP::open_ip_layer()
{
    // Sockets need no set-up for the application; the flag keeps the
    // once-only contract for callers that look at it.
    ip_open = 1;
    return true;
}

bool TCPIP::lookup(const char* host, INT_U32* ip)
{
    if (!host || !host[0]) {
        *ip = 0;
        return true;
    }
    return parse_dotted(host, ip) || sockets->transport->resolve(host, ip);
}

bool TCPIP::open_socket(int* endpoint, SOCKET_TYPE kind, const char* host, INT_U16 port)
{
    TCPIP_TRANSPORT* t = sockets->transport;
    *endpoint = t->open_endpoint(kind == SOCKET_TYPE_UDP);
    if (*endpoint < 0) {
        return false;
    }
    INT_U32 ip = 0;
    bool ok = true;
    if (kind == SOCKET_TYPE_STREAM) {
        ok = lookup(host, &ip);
        int started = ok ? t->connect_endpoint(*endpoint, ip, port) : -1;
        ok = started >= 0;
        // A non-blocking connect, bounded so open_stream_socket still ends
        // with a connected slot or a failure.
        INT_U64 deadline = t->now_ms() + peer_timeout_ms;
        while (ok && started == 1) {
            INT_U64 now = t->now_ms();
            int w = now < deadline ? t->wait_endpoint(*endpoint, true, static_cast<INT_U32>(deadline - now)) : -1;
            ok = w >= 0 && (w == 0 || t->connect_finished(*endpoint));
            if (w > 0) {
                started = 0;
            }
        }
    } else if (kind == SOCKET_TYPE_UDP || kind == SOCKET_TYPE_LISTEN) {
        ok = lookup(host, &ip) && t->bind_endpoint(*endpoint, ip, port, kind == SOCKET_TYPE_LISTEN);
    }
    if (!ok) {
        close_socket(endpoint);
    }
    return ok;
}

void TCPIP::close_socket(int* endpoint)
{
    if (*endpoint >= 0) {
        sockets->transport->close_endpoint(*endpoint);
    }
    *endpoint = -1;
}

short TCPIP::open_stream_socket(const char* host, INT_U16 port)
{
    if (!open_ip_layer()) {
        return -1;
    }
    for (INT_U16 i = 0; i < sockets->stream_count; ++i) {
        TCPIP_STREAM_SLOT& s = sockets->stream[i];
        if (s.endpoint >= 0) {
            continue;
        }
        if (!open_socket(&s.endpoint, SOCKET_TYPE_STREAM, host, port)) {
            return -1;
        }
        s.received = 0;
        std::free(s.queue);
        s.queue = nullptr;
        s.queued = 0;
        events_something_done = 1;
        return static_cast<short>(i);
    }
    return -1;
}

bool TCPIP::open_stream_listen_sockets(INT_U16 port)
{
    if (!open_ip_layer()) {
        return false;
    }
    for (INT_U16 i = 0; i < sockets->listen_count; ++i) {
        TCPIP_ENDPOINT_SLOT& s = sockets->listen[i];
        if (s.endpoint < 0) {
            s.port = port;
            return open_socket(&s.endpoint, SOCKET_TYPE_LISTEN, nullptr, port);
        }
    }
    return false;
}

bool TCPIP::open_udp_sockets(INT_U16 port)
{
    if (!open_ip_layer()) {
        return false;
    }
    for (INT_U16 i = 0; i < sockets->udp_count; ++i) {
        TCPIP_ENDPOINT_SLOT& s = sockets->udp[i];
        if (s.endpoint < 0) {
            s.port = port;
            return open_socket(&s.endpoint, SOCKET_TYPE_UDP, nullptr, port);
        }
    }
    return false;
}

bool TCPIP::monitor_stream_listen_sockets(short& id, INT_U16& port)
{
    id = static_cast<short>(65535);
    port = 0;
    if (!open_ip_layer()) {
        return false;
    }
    TCPIP_TRANSPORT* t = sockets->transport;
    for (INT_U16 i = 0; i < sockets->listen_count; ++i) {
        const TCPIP_ENDPOINT_SLOT& l = sockets->listen[i];
        int c = l.endpoint >= 0 ? t->accept_endpoint(l.endpoint) : -1;
        if (c < 0) {
            continue;
        }
        for (INT_U16 k = 0; k < sockets->stream_count; ++k) {
            TCPIP_STREAM_SLOT& s = sockets->stream[k];
            if (s.endpoint < 0) {
                s.endpoint = c;
                s.received = 0;
                id = static_cast<short>(k);
                port = l.port;
                events_something_done = 1;
                return true;
            }
        }
        // Every slot is busy: the caller never hears of this peer.
        t->close_endpoint(c);
        return false;
    }
    return false;
}

long TCPIP::fail_stream(short id)
{
    close_stream_socket(id);
    return -2;
}

long TCPIP::send(short id, const unsigned char* data, long len)
{
    TCPIP_STREAM_SLOT* s = open_stream_slot(sockets, id);
    if (!s || !data || len < 1 || !open_ip_layer()) {
        return -1;
    }
    TCPIP_TRANSPORT* t = sockets->transport;
    long done = 0;
    INT_U64 deadline = t->now_ms() + peer_timeout_ms;
    while (done < len) {
        long n = t->send_bytes(s->endpoint, data + done, len - done);
        if (n > 0) {
            done += n;
            deadline = t->now_ms() + peer_timeout_ms;
            events_something_done = 1;
            continue;
        }
        if (n != 0 && n != TRANSPORT_WOULD_BLOCK) {
            return fail_stream(id);
        }
        // Wait for room rather than spin; a peer that takes nothing for the
        // whole timeout would otherwise hold the program for ever.
        INT_U64 now = t->now_ms();
        if (now >= deadline || t->wait_endpoint(s->endpoint, true, static_cast<INT_U32>(deadline - now)) < 0) {
            return fail_stream(id);
        }
    }
    return len;
}

long TCPIP::send_unbuffered(short id, const unsigned char* data, long len)
{
    TCPIP_STREAM_SLOT* s = open_stream_slot(sockets, id);
    if (!s || !data || len < 1 || !open_ip_layer()) {
        return -1;
    }
    long n = sockets->transport->send_bytes(s->endpoint, data, len);
    if (n == TRANSPORT_WOULD_BLOCK) {
        return TCPIP_FLOW_CONTROL;
    }
    if (n < 0) {
        return fail_stream(id);
    }
    if (n > 0) {
        events_something_done = 1;
    }
    return n;
}

void TCPIP::send_queued(short id, const unsigned char* data, long len)
{
    TCPIP_STREAM_SLOT* s = open_stream_slot(sockets, id);
    if (!s || !data || len < 1) {
        return;
    }
    if (len > max_queued - s->queued) {
        if (platform_debug_stream.flags) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "TCPIP::send_queued: %ld bytes refused, socket %d already queues %d of at most %ld", len,
                          static_cast<int>(id), static_cast<int>(s->queued), max_queued);
            platform_debug_stream.write_to_stream(__FILE__, __LINE__, text, 1);
        }
        return;
    }
    std::size_t total = static_cast<std::size_t>(s->queued) + static_cast<std::size_t>(len);
    unsigned char* grown = static_cast<unsigned char*>(std::realloc(s->queue, total));
    if (!grown) {
        return;
    }
    std::memcpy(grown + s->queued, data, static_cast<std::size_t>(len));
    s->queue = grown;
    s->queued = static_cast<INT_S16>(total);
}

void TCPIP::monitor_queued_sending()
{
    TCPIP_TRANSPORT* t = sockets->transport;
    for (INT_U16 i = 0; i < sockets->stream_count; ++i) {
        TCPIP_STREAM_SLOT& s = sockets->stream[i];
        if (s.endpoint < 0 || s.queued <= 0) {
            continue;
        }
        long n = t->send_bytes(s.endpoint, s.queue, s.queued);
        if (n > 0) {
            std::memmove(s.queue, s.queue + n, static_cast<std::size_t>(s.queued - n));
            s.queued = static_cast<INT_S16>(s.queued - n);
            if (s.queued == 0) {
                std::free(s.queue);
                s.queue = nullptr;
            }
            events_something_done = 1;
        } else if (n != 0 && n != TRANSPORT_WOULD_BLOCK) {
            close_stream_socket(static_cast<short>(i));
        }
    }
}

long TCPIP::receive_unbuffered(short id, unsigned char* buffer, long len)
{
    platform_debug_stream.printf("orange\n");
    TCPIP_STREAM_SLOT* s = open_stream_slot(sockets, id);
    long result = -1;
    if (s && buffer && len >= 1 && open_ip_layer()) {
        platform_debug_stream.printf("apple\n");
        long n = sockets->transport->receive_bytes(s->endpoint, buffer, len);
        if (n >= 0 || n == TRANSPORT_WOULD_BLOCK) {
            platform_debug_stream.printf("banana\n");
            result = n > 0 ? n : 0;
            if (n > 0) {
                events_something_done = 1;
            }
        } else {
            platform_debug_stream.printf("Pear\n");
            result = 0;
            if (n == TRANSPORT_PEER_RESET) {
                platform_debug_stream.printf("Kiwi\n");
            } else if (n == TRANSPORT_PEER_CLOSED) {
                platform_debug_stream.printf("strawberry\n");
            } else {
                result = fail_stream(id);
            }
        }
    }
    platform_debug_stream.printf("Pomigranet %d\n", static_cast<int>(result));
    return result;
}

long TCPIP::receive(short id, unsigned char* buffer, long len)
{
    TCPIP_STREAM_SLOT* s = open_stream_slot(sockets, id);
    if (!s || !buffer || len < 1) {
        return -1;
    }
    long want = std::min(len, static_cast<long>(bufsize));
    // Bytes already buffered may cover a smaller request on their own.
    if (s->received < want) {
        long n = receive_unbuffered(id, s->buffer + s->received, want - s->received);
        platform_debug_stream.printf("humpf %d\n", static_cast<int>(n));
        if (n < 0) {
            return n;
        }
        s->received = static_cast<INT_U16>(s->received + n);
        if (s->received < want) {
            return 0;
        }
    }
    std::memcpy(buffer, s->buffer, static_cast<std::size_t>(want));
    s->received = static_cast<INT_U16>(s->received - want);
    std::memmove(s->buffer, s->buffer + want, s->received);
    return want;
}

void TCPIP::send(INT_U16 local_port, const unsigned char* data, long len, const char* host, INT_U16 port)
{
    if (!data || len < 1) {
        return;
    }
    bool resolved = false;
    INT_U32 ip = broadcast_ip;
    for (INT_U16 i = 0; i < sockets->udp_count; ++i) {
        const TCPIP_ENDPOINT_SLOT& s = sockets->udp[i];
        if (s.endpoint < 0 || s.port != local_port) {
            continue;
        }
        if (!resolved) {
            // An unknown name sends nothing: 0.0.0.0 would reach this machine.
            if (host && host[0] && !lookup(host, &ip)) {
                return;
            }
            resolved = true;
        }
        if (sockets->transport->send_datagram(s.endpoint, data, len, ip, port) > 0) {
            events_something_done = 1;
        }
    }
}

long TCPIP::receive(unsigned char* buffer, long len, char*& ip, INT_U16& port, INT_U16& local_port)
{
    static char from[INET_ADDRSTRLEN];
    from[0] = 0;
    ip = from;
    port = 0;
    local_port = 0;
    if (!buffer || len < 1) {
        return 0;
    }
    for (INT_U16 i = 0; i < sockets->udp_count; ++i) {
        const TCPIP_ENDPOINT_SLOT& s = sockets->udp[i];
        INT_U32 a = 0;
        INT_U16 p = 0;
        long n = s.endpoint >= 0 ? sockets->transport->receive_datagram(s.endpoint, buffer, len, &a, &p) : -1;
        if (n < 0) {
            continue;
        }
        format_ip(from, sizeof from, a);
        port = p;
        local_port = s.port;
        events_something_done = 1;
        return n;
    }
    return 0;
}

void TCPIP::close_stream_socket(short id)
{
    for (INT_U16 i = 0; i < sockets->stream_count; ++i) {
        if (id != -1 && id != static_cast<short>(i)) {
            continue;
        }
        // The queue and the received bytes belong to the peer that is going.
        TCPIP_STREAM_SLOT& s = sockets->stream[i];
        close_socket(&s.endpoint);
        std::free(s.queue);
        s.queue = nullptr;
        s.queued = 0;
        s.received = 0;
    }
}

void TCPIP::close_stream_listen_sockets(INT_U16 port)
{
    for (INT_U16 i = 0; i < sockets->listen_count; ++i) {
        if (port == 0 || sockets->listen[i].port == port) {
            close_socket(&sockets->listen[i].endpoint);
        }
    }
}

void TCPIP::close_udp_sockets(INT_U16 port)
{
    for (INT_U16 i = 0; i < sockets->udp_count; ++i) {
        if (port == 0 || sockets->udp[i].port == port) {
            close_socket(&sockets->udp[i].endpoint);
        }
    }
}

bool TCPIP::is_socket_open(short id)
{
    return open_stream_slot(sockets, id) != nullptr;
}

char* TCPIP::get_peer_addr(short id)
{
    static char text[INET_ADDRSTRLEN + 8];
    text[0] = 0;
    TCPIP_STREAM_SLOT* s = open_stream_slot(sockets, id);
    INT_U32 ip = 0;
    INT_U16 port = 0;
    if (s && sockets->transport->peer_address(s->endpoint, &ip, &port)) {
        char dotted[INET_ADDRSTRLEN];
        format_ip(dotted, sizeof dotted, ip);
        std::snprintf(text, sizeof text, "%s:%d", dotted, static_cast<int>(port));
    }
    return text;
}

char* TCPIP::get_host_name()
{
    static char name[100];
    if (!sockets->transport->host_name(name, sizeof name)) {
        name[0] = 0;
    }
    return name;
}

char* TCPIP::get_host_addr(const char* name)
{
    static char text[INET_ADDRSTRLEN];
    text[0] = 0;
    INT_U32 ip = 0;
    if (name && name[0] && sockets->transport->resolve(name, &ip)) {
        format_ip(text, sizeof text, ip);
    }
    return text;
}

INT_U32 TCPIP::str_to_ip(const char* text)
{
    INT_U32 ip = 0;
    if (!text || parse_dotted(text, &ip)) {
        return ip;
    }
    const char* dotted = get_host_addr(text);
    return parse_dotted(dotted, &ip) ? ip : 0;
}

char* TCPIP::ip_to_str(INT_U32 ip)
{
    static char text[INET_ADDRSTRLEN];
    format_ip(text, sizeof text, ip);
    return text;
}

bool TCPIP::is_host_avalible(const char*)
{
    return true;
}
