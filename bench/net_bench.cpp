// Loopback throughput: 64 MiB in 16 KiB pieces through a connected TCPIP
// stream slot to an accepted one (send, then receive until the piece is
// whole), against plain non-blocking send and recv between two TCP
// sockets on 127.0.0.1 doing the same.
#include "bench_ratio.h"
#include "tcpip.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr long piece = 16 * 1024;
constexpr long total = 64L * 1024 * 1024;

sockaddr_in loopback(INT_U16 port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A listening socket on an ephemeral port, and that port.
int listen_any(INT_U16* port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t sz = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &sz) != 0) {
        std::fprintf(stderr, "net_bench: no loopback socket\n");
        std::exit(1);
    }
    *port = ntohs(a.sin_port);
    return fd;
}

INT_U16 free_port()
{
    INT_U16 port = 0;
    close(listen_any(&port));
    return port;
}

void BM_loopback_tcpip(benchmark::State& state)
{
    TCPIP net(2, 1, 0, static_cast<INT_U16>(piece));
    INT_U16 port = free_port();
    short client = -1, server = -1;
    INT_U16 got = 0;
    if (!net.open_stream_listen_sockets(port) || (client = net.open_stream_socket("127.0.0.1", port)) < 0) {
        state.SkipWithError("no loopback connection");
        return;
    }
    for (int i = 0; i < 1000 && !net.monitor_stream_listen_sockets(server, got); ++i) {
        usleep(1000);
    }
    if (server < 0) {
        state.SkipWithError("no accepted connection");
        return;
    }
    std::vector<unsigned char> out(piece, 0x5A), in(piece);
    for (auto _ : state) {
        for (long done = 0; done < total; done += piece) {
            if (net.send(client, out.data(), piece) != piece) {
                state.SkipWithError("send failed");
                return;
            }
            while (net.receive(server, in.data(), piece) == 0) {
            }
        }
        benchmark::DoNotOptimize(in.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
}

void BM_loopback_plain(benchmark::State& state)
{
    INT_U16 port = 0;
    int l = listen_any(&port);
    int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a = loopback(port);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    pollfd p = {c, POLLOUT, 0};
    poll(&p, 1, 10000);
    int s = accept4(l, nullptr, nullptr, SOCK_NONBLOCK);
    close(l);
    if (s < 0) {
        close(c);
        state.SkipWithError("no loopback connection");
        return;
    }
    std::vector<unsigned char> out(piece, 0x5A), in(piece);
    for (auto _ : state) {
        for (long done = 0; done < total; done += piece) {
            for (long sent = 0; sent < piece;) {
                ssize_t n = send(c, out.data() + sent, static_cast<size_t>(piece - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    sent += n;
                } else {
                    pollfd w = {c, POLLOUT, 0};
                    poll(&w, 1, 10000);
                }
            }
            for (long got = 0; got < piece;) {
                ssize_t n = recv(s, in.data() + got, static_cast<size_t>(piece - got), MSG_DONTWAIT);
                if (n > 0) {
                    got += n;
                }
            }
        }
        benchmark::DoNotOptimize(in.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
    close(c);
    close(s);
}

BENCHMARK(BM_loopback_tcpip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_loopback_plain)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"64 MiB loopback in 16 KiB pieces: TCPIP vs send/recv", "BM_loopback_tcpip", "BM_loopback_plain"}});
}
