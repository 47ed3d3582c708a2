// The transport under TCPIP: non-blocking endpoints named by small integer
// handles (-1 = none). The host uses POSIX sockets; tests install the fake,
// which shows what loopback cannot (a peer taking part of a send, flow
// control, broadcast) and answers name lookups without any resolver.
// Addresses are u32 (a << 24) | (b << 16) | (c << 8) | d in host order.
#ifndef KIVO_TCPIP_TRANSPORT_H
#define KIVO_TCPIP_TRANSPORT_H

#include "kivo_types.h"

#include <string>
#include <vector>

// Results of the transfers besides a byte count.
constexpr long TRANSPORT_WOULD_BLOCK = -1; // nothing taken or nothing waiting
constexpr long TRANSPORT_PEER_CLOSED = -2; // the peer closed its end (receive only)
constexpr long TRANSPORT_PEER_RESET = -3;  // the peer reset the connection (receive only)
constexpr long TRANSPORT_ERROR = -4;       // anything else

class TCPIP_TRANSPORT
{
public:
    virtual ~TCPIP_TRANSPORT() = default;

    // A new non-blocking endpoint (UDP ones may broadcast); -1 on failure.
    virtual int open_endpoint(bool udp) = 0;
    virtual void close_endpoint(int h) = 0;
    // Binds to ip:port; listen adds address reuse and a queue of 1.
    virtual bool bind_endpoint(int h, INT_U32 ip, INT_U16 port, bool listen) = 0;
    // Starts a connection: 0 connected, 1 in progress, -1 failed.
    virtual int connect_endpoint(int h, INT_U32 ip, INT_U16 port) = 0;
    // After a wait reported an endpoint in progress ready: did it connect?
    virtual bool connect_finished(int h) = 0;
    // Waits at most timeout_ms for room to send (for_write) or something to
    // read: 1 ready (or failed), 0 not yet, -1 error.
    virtual int wait_endpoint(int h, bool for_write, INT_U32 timeout_ms) = 0;
    // A pending connection as a new non-blocking endpoint; -1 when none.
    virtual int accept_endpoint(int h) = 0;
    virtual long send_bytes(int h, const void* data, long len) = 0;
    virtual long receive_bytes(int h, void* buffer, long len) = 0;
    virtual long send_datagram(int h, const void* data, long len, INT_U32 ip, INT_U16 port) = 0;
    // Cuts a longer datagram to len.
    virtual long receive_datagram(int h, void* buffer, long len, INT_U32* ip, INT_U16* port) = 0;
    virtual bool peer_address(int h, INT_U32* ip, INT_U16* port) = 0;
    virtual bool host_name(char* buffer, std::size_t size) = 0;
    // The first IPv4 address of a name.
    virtual bool resolve(const char* name, INT_U32* ip) = 0;
    // Milliseconds of a monotonic clock, for the deadlines of the waits.
    virtual INT_U64 now_ms() = 0;
};

// The transport new TCPIP objects use; null installs the POSIX one again.
// Returns the one that was installed.
TCPIP_TRANSPORT* tcpip_set_transport(TCPIP_TRANSPORT* transport);
TCPIP_TRANSPORT* tcpip_transport();

// A network in memory. Its clock moves only when a wait gives up, by the
// whole wait, so a 10 s timeout passes at once. Every connect reaches a
// peer that takes take_per_send bytes per send (negative: all, 0: none).
class TCPIP_FAKE_TRANSPORT : public TCPIP_TRANSPORT
{
public:
    struct ENDPOINT
    {
        bool udp = false;
        bool open = true;
        bool listening = false;
        bool connected = false;
        INT_U32 ip = 0; // bound address
        INT_U16 port = 0;
        INT_U32 peer_ip = 0;
        INT_U16 peer_port = 0;
        std::string taken;    // bytes the peer took
        std::string incoming; // bytes waiting to be received
        bool peer_gone = false;
        int pending = 0; // connections waiting to be accepted
    };
    struct DATAGRAM
    {
        int from;
        INT_U32 ip;
        INT_U16 port;
        std::string bytes;
    };

    long take_per_send = -1;
    bool connect_completes = true;
    std::string name = "kivo-fake-host";
    INT_U32 name_ip = 0x0A000001; // what name resolves to (10.0.0.1)
    INT_U64 clock_ms = 1000;
    std::vector<ENDPOINT> endpoints; // indexed by handle
    std::vector<DATAGRAM> sent;      // datagrams sent, in order
    std::vector<DATAGRAM> arriving;  // datagrams to deliver, by handle in from

    int open_endpoint(bool udp) override;
    void close_endpoint(int h) override;
    bool bind_endpoint(int h, INT_U32 ip, INT_U16 port, bool listen) override;
    int connect_endpoint(int h, INT_U32 ip, INT_U16 port) override;
    bool connect_finished(int h) override;
    int wait_endpoint(int h, bool for_write, INT_U32 timeout_ms) override;
    int accept_endpoint(int h) override;
    long send_bytes(int h, const void* data, long len) override;
    long receive_bytes(int h, void* buffer, long len) override;
    long send_datagram(int h, const void* data, long len, INT_U32 ip, INT_U16 port) override;
    long receive_datagram(int h, void* buffer, long len, INT_U32* ip, INT_U16* port) override;
    bool peer_address(int h, INT_U32* ip, INT_U16* port) override;
    bool host_name(char* buffer, std::size_t size) override;
    // The dotted addresses, "localhost" and name; nothing else resolves.
    bool resolve(const char* host, INT_U32* ip) override;
    INT_U64 now_ms() override;

private:
    ENDPOINT* find(int h);
};

#endif
