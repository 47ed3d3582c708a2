// The in-memory transport that tests install under TCPIP: peers with a
// chosen appetite, recorded datagrams and a name service of its own.
#include "tcpip_transport.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

TCPIP_FAKE_TRANSPORT::ENDPOINT* TCPIP_FAKE_TRANSPORT::find(int h)
{
    if (h < 0 || static_cast<std::size_t>(h) >= endpoints.size() || !endpoints[static_cast<std::size_t>(h)].open) {
        return nullptr;
    }
    return &endpoints[static_cast<std::size_t>(h)];
}

int TCPIP_FAKE_TRANSPORT::open_endpoint(bool udp)
{
    ENDPOINT e;
    e.udp = udp;
    endpoints.push_back(e);
    return static_cast<int>(endpoints.size() - 1);
}

void TCPIP_FAKE_TRANSPORT::close_endpoint(int h)
{
    if (ENDPOINT* e = find(h)) {
        e->open = false;
    }
}

bool TCPIP_FAKE_TRANSPORT::bind_endpoint(int h, INT_U32 ip, INT_U16 port, bool listen)
{
    ENDPOINT* e = find(h);
    if (!e) {
        return false;
    }
    e->ip = ip;
    e->port = port;
    e->listening = listen;
    return true;
}

int TCPIP_FAKE_TRANSPORT::connect_endpoint(int h, INT_U32 ip, INT_U16 port)
{
    ENDPOINT* e = find(h);
    if (!e || e->udp) {
        return -1;
    }
    e->peer_ip = ip;
    e->peer_port = port;
    return 1;
}

bool TCPIP_FAKE_TRANSPORT::connect_finished(int h)
{
    ENDPOINT* e = find(h);
    if (!e || !connect_completes) {
        return false;
    }
    e->connected = true;
    return true;
}

int TCPIP_FAKE_TRANSPORT::wait_endpoint(int h, bool for_write, INT_U32 timeout_ms)
{
    ENDPOINT* e = find(h);
    if (!e) {
        return -1;
    }
    bool ready = for_write ? (!e->connected ? connect_completes : take_per_send != 0)
                           : (!e->incoming.empty() || e->peer_gone || e->pending > 0);
    if (ready) {
        return 1;
    }
    clock_ms += timeout_ms;
    return 0;
}

int TCPIP_FAKE_TRANSPORT::accept_endpoint(int h)
{
    ENDPOINT* e = find(h);
    if (!e || !e->listening || e->pending < 1) {
        return -1;
    }
    --e->pending;
    int n = open_endpoint(false);
    ENDPOINT& c = endpoints[static_cast<std::size_t>(n)]; // the push may have moved *e
    c.connected = true;
    c.peer_ip = 0x7F000001;
    c.peer_port = 40000;
    return n;
}

long TCPIP_FAKE_TRANSPORT::send_bytes(int h, const void* data, long len)
{
    ENDPOINT* e = find(h);
    if (!e || !e->connected || e->peer_gone) {
        return TRANSPORT_ERROR;
    }
    if (take_per_send == 0) {
        return TRANSPORT_WOULD_BLOCK;
    }
    long n = take_per_send < 0 ? len : std::min(len, take_per_send);
    e->taken.append(static_cast<const char*>(data), static_cast<std::size_t>(n));
    return n;
}

long TCPIP_FAKE_TRANSPORT::receive_bytes(int h, void* buffer, long len)
{
    ENDPOINT* e = find(h);
    if (!e || !e->connected) {
        return TRANSPORT_ERROR;
    }
    if (e->incoming.empty()) {
        return e->peer_gone ? TRANSPORT_PEER_CLOSED : TRANSPORT_WOULD_BLOCK;
    }
    std::size_t n = std::min(e->incoming.size(), static_cast<std::size_t>(len));
    std::memcpy(buffer, e->incoming.data(), n);
    e->incoming.erase(0, n);
    return static_cast<long>(n);
}

long TCPIP_FAKE_TRANSPORT::send_datagram(int h, const void* data, long len, INT_U32 ip, INT_U16 port)
{
    if (!find(h) || !find(h)->udp) {
        return TRANSPORT_ERROR;
    }
    sent.push_back({h, ip, port, std::string(static_cast<const char*>(data), static_cast<std::size_t>(len))});
    return len;
}

long TCPIP_FAKE_TRANSPORT::receive_datagram(int h, void* buffer, long len, INT_U32* ip, INT_U16* port)
{
    auto it = std::find_if(arriving.begin(), arriving.end(), [h](const DATAGRAM& d) { return d.from == h; });
    if (!find(h) || it == arriving.end()) {
        return TRANSPORT_WOULD_BLOCK;
    }
    std::size_t n = std::min(it->bytes.size(), static_cast<std::size_t>(len));
    std::memcpy(buffer, it->bytes.data(), n);
    *ip = it->ip;
    *port = it->port;
    arriving.erase(it);
    return static_cast<long>(n);
}

bool TCPIP_FAKE_TRANSPORT::peer_address(int h, INT_U32* ip, INT_U16* port)
{
    ENDPOINT* e = find(h);
    if (!e || !e->connected) {
        return false;
    }
    *ip = e->peer_ip;
    *port = e->peer_port;
    return true;
}

bool TCPIP_FAKE_TRANSPORT::host_name(char* buffer, std::size_t size)
{
    if (size == 0 || name.empty()) {
        return false;
    }
    std::snprintf(buffer, size, "%s", name.c_str());
    return true;
}

bool TCPIP_FAKE_TRANSPORT::resolve(const char* host, INT_U32* ip)
{
    in_addr a;
    if (!host) {
        return false;
    }
    if (inet_pton(AF_INET, host, &a) == 1) {
        *ip = ntohl(a.s_addr);
        return true;
    }
    if (std::strcmp(host, "localhost") == 0 || (!name.empty() && name == host)) {
        *ip = std::strcmp(host, "localhost") == 0 ? 0x7F000001u : name_ip;
        return true;
    }
    return false;
}

INT_U64 TCPIP_FAKE_TRANSPORT::now_ms()
{
    return clock_ms;
}
