#ifndef KIVO_TCPIP_H
#define KIVO_TCPIP_H

// TCPIP: a small poll-driven networking object. A fixed number of TCP
// stream sockets (outgoing connections or accepted ones), TCP listen
// sockets and UDP sockets, all non-blocking, with a receive buffer per
// stream socket and a send queue for data the transport did not take at
// once. Nothing waits for data: the frame loop calls the monitor
// operations. Stream socket ids are slot indices 0 .. stream count - 1.
//
// Results of the stream operations: -1 for a bad id, a free slot, a null
// buffer or len < 1; -2 after a transport error, which closed the socket.
// A peer's disconnect is not an error: receives give 0 and the slot stays
// occupied until it is closed.
#include "kivo_types.h"

struct TCPIP_SOCKETS;

// The transport's answer to a send it could not take (flow control) and
// to a receive with nothing waiting.
constexpr long TCPIP_FLOW_CONTROL = -3161;
constexpr long TCPIP_NO_DATA = -3162;

// How open_socket opens an endpoint. Accepted endpoints are made by the
// accept itself.
typedef INT_S16 SOCKET_TYPE;
constexpr SOCKET_TYPE SOCKET_TYPE_STREAM = 0; // connected to host:port
constexpr SOCKET_TYPE SOCKET_TYPE_UDP = 1;    // bound to host:port
constexpr SOCKET_TYPE SOCKET_TYPE_LISTEN = 2; // bound to host:port, queue of 1

class TCPIP
{
public:
    // bufsize 0 is fatal error 0x000A, an allocation failure fatal error
    // 0x000B. Touches no socket: the global below is built before main.
    // The object works over the transport installed when it is made
    // (tcpip_set_transport in the host).
    TCPIP(INT_U16 stream_count, INT_U16 listen_count, INT_U16 udp_count, INT_U16 bufsize);
    // Closes every socket; the last object closes the transport.
    ~TCPIP();
    TCPIP(const TCPIP&) = delete;
    TCPIP& operator=(const TCPIP&) = delete;

    // Opens the transport for the application once; every operation that
    // needs it calls this first.
    bool open_ip_layer();

    // Connects the first free stream slot to host:port (a dotted address or
    // a name; null connects to 0.0.0.0), waiting at most 10 s; the slot
    // index, or -1 when no slot is free or the connection fails.
    short open_stream_socket(const char* host, INT_U16 port);
    // Listens on 0.0.0.0:port with the first closed listen slot.
    bool open_stream_listen_sockets(INT_U16 port);
    // Binds the first closed UDP slot to 0.0.0.0:port.
    bool open_udp_sockets(INT_U16 port);
    // Accepts one pending connection onto the first free stream slot: id is
    // that slot and port the listen socket's port. false, with id 65535
    // (-1) and port 0, when nothing is pending or no slot is free (the
    // connection is then accepted and closed at once).
    bool monitor_stream_listen_sockets(short& id, INT_U16& port);

    // Sends every byte, waiting for room; len, or -2 when the peer took
    // nothing for 10 s (the socket is closed).
    long send(short id, const unsigned char* data, long len);
    // One transport send: the bytes taken, or TCPIP_FLOW_CONTROL.
    long send_unbuffered(short id, const unsigned char* data, long len);
    // Appends to the slot's send queue, at most 32767 bytes in all; a
    // larger total is refused and logged on platform_debug_stream.
    void send_queued(short id, const unsigned char* data, long len);
    // One send of each non-empty queue; what the peer did not take stays
    // queued in order.
    void monitor_queued_sending();

    // One receive of at most len bytes: their count, 0 when nothing is
    // waiting or the peer has gone.
    long receive_unbuffered(short id, unsigned char* buffer, long len);
    // Delivers exactly min(len, bufsize) bytes once that many have arrived
    // (0 until then); bytes beyond them stay buffered for the next call.
    long receive(short id, unsigned char* buffer, long len);

    // UDP: one datagram from every open UDP socket bound to local_port to
    // host:port; a null or empty host broadcasts to 255.255.255.255.
    void send(INT_U16 local_port, const unsigned char* data, long len, const char* host, INT_U16 port);
    // UDP: the first datagram waiting on the open UDP sockets, cut to len:
    // its byte count (0 when none) with the sender's dotted address (static
    // text), its port and the local port that received it.
    long receive(unsigned char* buffer, long len, char*& ip, INT_U16& port, INT_U16& local_port);

    // Closes the slot and frees its queue and received bytes; -1 closes
    // every stream socket, other ids out of range do nothing.
    void close_stream_socket(short id);
    // Port 0 closes every socket of the table, else those on that port.
    void close_stream_listen_sockets(INT_U16 port);
    void close_udp_sockets(INT_U16 port);
    bool is_socket_open(short id);

    // Texts in static buffers, each overwritten by the next call of the
    // same operation; "" on any failure.
    char* get_peer_addr(short id); // "a.b.c.d:port"
    char* get_host_name();         // at most 99 characters
    char* get_host_addr(const char* name);
    // ip as (a << 24) | (b << 16) | (c << 8) | d; a name is resolved; 0 for
    // null or a name that does not resolve.
    INT_U32 str_to_ip(const char* text);
    char* ip_to_str(INT_U32 ip);
    // Always true: the host is not looked up.
    bool is_host_avalible(const char* host);

    static INT_U16 ip_count; // live TCPIP objects
    static INT_U8 ip_open;   // the transport has been opened

    TCPIP_SOCKETS* sockets;
    INT_U16 bufsize;

private:
    // Opens one endpoint of the kind; any failure closes it and gives false.
    bool open_socket(int* endpoint, SOCKET_TYPE kind, const char* host, INT_U16 port);
    void close_socket(int* endpoint);
    bool lookup(const char* host, INT_U32* ip);
    long fail_stream(short id);
};

// One stream socket, no listen or UDP sockets, 2048-byte buffer.
extern TCPIP tcpip;

#endif
