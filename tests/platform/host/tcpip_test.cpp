// TCPIP on loopback (127.0.0.1, ports found free by binding to port 0) and
// over the in-memory transport for what loopback cannot show.
#include "tcpip.h"

#include "console_capture.h"
#include "debug_stream.h"
#include "host_window.h"
#include "kivo_host.h"
#include "tcpip_transport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

INT_U16 free_port(int type)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t sz = sizeof a;
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              getsockname(fd, reinterpret_cast<sockaddr*>(&a), &sz) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return ok ? ntohs(a.sin_port) : 0;
}

// Polls f every millisecond, for at most two seconds.
template <typename F> bool within_deadline(F f)
{
    for (int i = 0; i < 2000; ++i) {
        if (f()) {
            return true;
        }
        timespec ms = {0, 1000000};
        nanosleep(&ms, nullptr);
    }
    return false;
}

std::vector<unsigned char> pattern(std::size_t n, unsigned char start = 0)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<unsigned char>(start + i * 7);
    }
    return v;
}

// What platform_debug_stream writes while it exists.
std::string& console = kivo_test::CONSOLE_CAPTURE::text();
struct TraceCapture : kivo_test::CONSOLE_CAPTURE
{
    TraceCapture() : CONSOLE_CAPTURE(platform_debug_stream) {}
};

// A server with one listen socket and a client connected to it.
struct Pair
{
    TCPIP server{1, 1, 0, 2048};
    TCPIP client{2, 0, 0, 2048};
    INT_U16 port = free_port(SOCK_STREAM);
    short s = -1, c = -1;

    bool connect()
    {
        INT_U16 got = 0;
        if (!server.open_stream_listen_sockets(port)) {
            return false;
        }
        c = client.open_stream_socket("127.0.0.1", port);
        return c >= 0 && within_deadline([&] { return server.monitor_stream_listen_sockets(s, got); }) && got == port;
    }
};

// Repeats receive until it gives non-zero, within the deadline.
long receive_some(TCPIP& net, short id, unsigned char* buf, long len)
{
    long n = 0;
    within_deadline([&] { return (n = net.receive(id, buf, len)) != 0; });
    return n;
}

} // namespace

TEST(TcpipLoopback, ReceiveDeliversWholeRequestsAndKeepsWhatRemains)
{
    Pair p;
    ASSERT_TRUE(p.connect());
    auto data = pattern(6000);
    unsigned char buf[4096];

    // 100 of 2048: nothing until all 100 have arrived.
    ASSERT_EQ(p.client.send(p.c, data.data(), 60), 60);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(p.server.receive(p.s, buf, 100), 0);
        timespec ms = {0, 1000000};
        nanosleep(&ms, nullptr);
    }
    ASSERT_EQ(p.client.send(p.c, data.data() + 60, 40), 40);
    ASSERT_EQ(receive_some(p.server, p.s, buf, 100), 100);
    EXPECT_EQ(std::memcmp(buf, data.data(), 100), 0);

    // 4096 of 2048: a buffer's worth at a time.
    ASSERT_EQ(p.client.send(p.c, data.data() + 100, 5000), 5000);
    ASSERT_EQ(receive_some(p.server, p.s, buf, 4096), 2048);
    EXPECT_EQ(std::memcmp(buf, data.data() + 100, 2048), 0);

    // A smaller request than what is buffered is served from the buffer,
    // in order, and the rest stays.
    ASSERT_EQ(receive_some(p.server, p.s, buf, 2048), 2048);
    ASSERT_TRUE(within_deadline([&] { return p.server.receive(p.s, buf, 2048) == 0; }));
    long offset = 100 + 4096;
    for (long len : {100L, 37L, 500L}) {
        ASSERT_EQ(p.server.receive(p.s, buf, len), len);
        EXPECT_EQ(std::memcmp(buf, data.data() + offset, static_cast<std::size_t>(len)), 0) << len;
        offset += len;
    }

    // The socket stays non-blocking after receives: a send the peer cannot
    // take is cut short instead of waiting.
    std::vector<unsigned char> big(16u << 20);
    long n = p.server.send_unbuffered(p.s, big.data(), static_cast<long>(big.size()));
    EXPECT_TRUE(n == TCPIP_FLOW_CONTROL || (n > 0 && n < static_cast<long>(big.size()))) << n;

    EXPECT_EQ(p.client.get_peer_addr(p.c), "127.0.0.1:" + std::to_string(p.port));
    EXPECT_EQ(std::string(p.server.get_peer_addr(p.s)).rfind("127.0.0.1:", 0), 0u);
    EXPECT_STREQ(p.server.get_peer_addr(1), "");
}

TEST(TcpipLoopback, BadArgumentsGiveMinusOne)
{
    TCPIP net(1, 0, 0, 64);
    unsigned char b[4] = {};
    for (short id : {short(-1), short(0), short(1)}) {
        EXPECT_EQ(net.send(id, b, 4), -1);
        EXPECT_EQ(net.send_unbuffered(id, b, 4), -1);
        EXPECT_EQ(net.receive(id, b, 4), -1);
        EXPECT_EQ(net.receive_unbuffered(id, b, 4), -1);
    }
    Pair p;
    ASSERT_TRUE(p.connect());
    EXPECT_EQ(p.client.send(p.c, nullptr, 4), -1);
    EXPECT_EQ(p.client.send(p.c, b, 0), -1);
    EXPECT_EQ(p.server.receive(p.s, nullptr, 4), -1);
    EXPECT_EQ(p.server.receive(p.s, b, -5), -1);
    // Nobody listens on a port found free: the connect fails, the slot stays free.
    EXPECT_EQ(net.open_stream_socket("127.0.0.1", free_port(SOCK_STREAM)), -1);
    EXPECT_FALSE(net.is_socket_open(0));
}

TEST(TcpipLoopback, BusySlotsAndDisconnects)
{
    TraceCapture trace;
    Pair p;
    ASSERT_TRUE(p.connect());
    // A second peer with every server slot busy is accepted and closed at once.
    short second = p.client.open_stream_socket("127.0.0.1", p.port);
    ASSERT_GE(second, 0);
    short id = 5;
    INT_U16 port = 5;
    unsigned char buf[16];
    console.clear();
    EXPECT_TRUE(within_deadline([&] {
        EXPECT_FALSE(p.server.monitor_stream_listen_sockets(id, port));
        EXPECT_TRUE(id == -1 && port == 0);
        return p.client.receive(second, buf, 16) == 0 && console.find("strawberry\n") != std::string::npos;
    }));
    EXPECT_TRUE(p.client.is_socket_open(second));
    EXPECT_NE(console.find("orange\napple\nPear\nstrawberry\nPomigranet 0\nhumpf 0\n"), std::string::npos);

    // A reset is a disconnect too; nothing waiting is traced as such.
    int raw = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(p.port);
    p.server.close_stream_socket(p.s);
    ASSERT_EQ(connect(raw, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(within_deadline([&] { return p.server.monitor_stream_listen_sockets(id, port); }));
    console.clear();
    EXPECT_EQ(p.server.receive_unbuffered(id, buf, 16), 0);
    EXPECT_EQ(console, "orange\napple\nbanana\nPomigranet 0\n");
    linger hard = {1, 0};
    setsockopt(raw, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(raw);
    console.clear();
    EXPECT_TRUE(within_deadline(
        [&] { return p.server.receive_unbuffered(id, buf, 16) == 0 && console.find("Kiwi\n") != std::string::npos; }));
    EXPECT_TRUE(p.server.is_socket_open(id));

    // Sending to a peer that has gone ends in -2, never in SIGPIPE.
    long r = 0;
    for (int i = 0; i < 200 && r != -2; ++i) {
        r = p.server.send(id, buf, 16);
    }
    EXPECT_EQ(r, -2);
    EXPECT_FALSE(p.server.is_socket_open(id));
}

TEST(TcpipLoopback, DatagramsGoToTheBoundPort)
{
    TCPIP a(0, 0, 1, 2048), b(0, 0, 2, 2048);
    INT_U16 pa = free_port(SOCK_DGRAM), pb = free_port(SOCK_DGRAM);
    ASSERT_TRUE(a.open_udp_sockets(pa));
    ASSERT_TRUE(b.open_udp_sockets(pb));
    auto data = pattern(300);
    unsigned char buf[512];
    char* ip = nullptr;
    INT_U16 from = 0, local = 0;
    a.send(pa, data.data(), 300, "localhost", pb);
    long n = 0;
    ASSERT_TRUE(within_deadline([&] { return (n = b.receive(buf, 512, ip, from, local)) > 0; }));
    EXPECT_EQ(n, 300);
    EXPECT_EQ(std::memcmp(buf, data.data(), 300), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_EQ(from, pa);
    EXPECT_EQ(local, pb);
    // A longer datagram is cut to the buffer.
    a.send(pa, data.data(), 300, "127.0.0.1", pb);
    ASSERT_TRUE(within_deadline([&] { return (n = b.receive(buf, 10, ip, from, local)) > 0; }));
    EXPECT_EQ(n, 10);
    EXPECT_EQ(b.receive(buf, 512, ip, from, local), 0);
    EXPECT_STREQ(ip, "");
}

TEST(TcpipDeath, ZeroBufferSizeIsFatal)
{
    EXPECT_EXIT(TCPIP(1, 0, 0, 0), ::testing::ExitedWithCode(1), "Receive buffer");
}

class TcpipFake : public ::testing::Test
{
protected:
    void SetUp() override { saved = tcpip_set_transport(&fake); }
    void TearDown() override { tcpip_set_transport(saved); }

    // Connects slot `id` of net to the fake network; returns the endpoint.
    TCPIP_FAKE_TRANSPORT::ENDPOINT& connected(TCPIP& net, short& id)
    {
        id = net.open_stream_socket("10.1.2.3", 80);
        EXPECT_GE(id, 0);
        return fake.endpoints.back();
    }

    TCPIP_FAKE_TRANSPORT fake;
    TCPIP_TRANSPORT* saved = nullptr;
};

TEST_F(TcpipFake, PartialSendsAndFlowControl)
{
    TCPIP net(1, 0, 0, 2048);
    short id;
    connected(net, id);
    auto data = pattern(1000);
    fake.take_per_send = 3;
    events_something_done = 0;
    EXPECT_EQ(net.send(id, data.data(), 1000), 1000);
    EXPECT_EQ(events_something_done, 1); // the run loop must not sleep after a transfer
    EXPECT_EQ(net.send_unbuffered(id, data.data(), 1000), 3);
    EXPECT_EQ(fake.endpoints.back().taken,
              std::string(data.begin(), data.end()) + std::string(data.begin(), data.begin() + 3));

    // A peer that takes nothing: one send reports flow control, a full
    // send gives up after 10 s of the fake's clock and frees the slot.
    fake.take_per_send = 0;
    EXPECT_EQ(net.send_unbuffered(id, data.data(), 10), TCPIP_FLOW_CONTROL);
    INT_U64 before = fake.clock_ms;
    EXPECT_EQ(net.send(id, data.data(), 10), -2);
    EXPECT_EQ(fake.clock_ms - before, 10000u);
    EXPECT_FALSE(net.is_socket_open(id));

    // A connect that never completes gives up after 10 s too.
    fake.connect_completes = false;
    before = fake.clock_ms;
    EXPECT_EQ(net.open_stream_socket("10.1.2.3", 80), -1);
    EXPECT_EQ(fake.clock_ms - before, 10000u);
    EXPECT_FALSE(net.is_socket_open(0));
}

TEST_F(TcpipFake, QueueDrainsInOrderAndHoldsAtMost32767Bytes)
{
    TraceCapture trace;
    TCPIP net(1, 0, 0, 2048);
    short id;
    connected(net, id);
    auto data = pattern(32767);
    fake.take_per_send = 0;
    net.send_queued(id, data.data(), 10);
    net.monitor_queued_sending();
    EXPECT_EQ(fake.endpoints.back().taken, "");
    fake.take_per_send = 4;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 4; ++i) {
        net.monitor_queued_sending();
        sizes.push_back(fake.endpoints.back().taken.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{4, 8, 10, 10}));
    EXPECT_EQ(fake.endpoints.back().taken, std::string(data.begin(), data.begin() + 10));

    fake.take_per_send = 0;
    net.send_queued(id, data.data(), 32767);
    net.send_queued(id, data.data(), 1);
    EXPECT_NE(console.find("send_queued"), std::string::npos);
    fake.take_per_send = -1;
    net.monitor_queued_sending();
    EXPECT_EQ(fake.endpoints.back().taken.size(), 10u + 32767u);
}

TEST_F(TcpipFake, ClosingASlotForgetsItsQueueAndReceivedBytes)
{
    TCPIP net(1, 1, 0, 2048);
    ASSERT_TRUE(net.open_stream_listen_sockets(80));
    std::size_t listener = fake.endpoints.size() - 1;
    auto accept_one = [&] {
        fake.endpoints[listener].pending = 1;
        short id = -1;
        INT_U16 port = 0;
        EXPECT_TRUE(net.monitor_stream_listen_sockets(id, port));
        return id;
    };
    unsigned char buf[100];
    // Closed by the caller, or by an error while draining the queue.
    for (bool by_error : {false, true}) {
        short id = accept_one();
        fake.endpoints.back().incoming = std::string(50, 'A');
        fake.take_per_send = 0;
        net.send_queued(id, reinterpret_cast<const unsigned char*>("stale"), 5);
        EXPECT_EQ(net.receive(id, buf, 100), 0);
        if (by_error) {
            fake.endpoints.back().peer_gone = true;
            net.monitor_queued_sending();
        } else {
            net.close_stream_socket(id);
        }
        EXPECT_FALSE(net.is_socket_open(id));

        fake.take_per_send = -1;
        ASSERT_EQ(accept_one(), id);
        fake.endpoints.back().incoming = std::string(100, 'B');
        net.monitor_queued_sending();
        EXPECT_EQ(fake.endpoints.back().taken, "") << by_error;
        ASSERT_EQ(net.receive(id, buf, 100), 100);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 100), std::string(100, 'B'));
        net.close_stream_socket(id);
    }
}

TEST_F(TcpipFake, DatagramDestinations)
{
    TCPIP net(0, 0, 2, 2048);
    ASSERT_TRUE(net.open_udp_sockets(5000));
    ASSERT_TRUE(net.open_udp_sockets(6000));
    const unsigned char msg[] = "hi";
    struct Case
    {
        INT_U16 local;
        const char* host;
        std::vector<INT_U32> to;
    } cases[] = {
        {5000, nullptr, {0xFFFFFFFFu}},
        {6000, "", {0xFFFFFFFFu}},
        {5000, "localhost", {0x7F000001u}},
        {5000, "192.168.7.9", {0xC0A80709u}},
        {5000, "kivo-fake-host", {0x0A000001u}},
        {5000, "unknown-name", {}},
        {7000, nullptr, {}}, // no socket uses that local port
    };
    for (const Case& k : cases) {
        fake.sent.clear();
        net.send(k.local, msg, 2, k.host, 4321);
        std::vector<INT_U32> to;
        for (auto& d : fake.sent) {
            to.push_back(d.ip);
            EXPECT_EQ(d.port, 4321);
            EXPECT_EQ(d.bytes, "hi");
        }
        EXPECT_EQ(to, k.to) << (k.host ? k.host : "null") << " from " << k.local;
    }
}

TEST_F(TcpipFake, NamesAndAddresses)
{
    TCPIP net(1, 1, 1, 2048);
    EXPECT_STREQ(net.get_host_name(), "kivo-fake-host");
    EXPECT_STREQ(net.get_host_addr("kivo-fake-host"), "10.0.0.1");
    EXPECT_STREQ(net.get_host_addr("localhost"), "127.0.0.1");
    for (const char* none : {static_cast<const char*>(nullptr), "", "unknown-name"}) {
        EXPECT_STREQ(net.get_host_addr(none), "");
    }
    struct
    {
        const char* text;
        INT_U32 ip;
    } ips[] = {
        {"1.2.3.4", 0x01020304u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"localhost", 0x7F000001u},
        {"kivo-fake-host", 0x0A000001u},
        {"unknown-name", 0},
        {"1.2.3.4.5", 0},
        {nullptr, 0},
    };
    for (auto& k : ips) {
        EXPECT_EQ(net.str_to_ip(k.text), k.ip) << (k.text ? k.text : "null");
    }
    EXPECT_STREQ(net.ip_to_str(0xC0A80001u), "192.168.0.1");
    EXPECT_TRUE(net.is_host_avalible(nullptr));
    fake.name.clear();
    EXPECT_STREQ(net.get_host_name(), "");
}
