// A TCP proxy on 127.0.0.1 that delays every byte by half a round trip in each direction, so a
// server on the same machine answers as one that far away would: each request and its answer
// pay the whole round trip, while bytes in flight still flow at full speed (a pipelined
// stream is not slowed down, only shifted in time).
// Usage: bench_delay_proxy TARGET_PORT RTT_MS [LISTEN_PORT]
// Prints the port it listens on as its first line, then serves until it is ended.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct TChunk {
    Clock::time_point Due;
    std::string Bytes; // empty: the sender has finished
};

// One direction of one connection: a reader that stamps what arrives and a writer that hands
// it on when its time has come.
struct TPipe {
    std::mutex Lock;
    std::condition_variable Ready;
    std::deque<TChunk> Queue;
};

void Pump(int From, int To, Clock::duration Delay) {
    auto P = std::make_shared<TPipe>();
    std::thread Writer([P, To] {
        for (;;) {
            TChunk C;
            {
                std::unique_lock<std::mutex> L(P->Lock);
                P->Ready.wait(L, [&] { return !P->Queue.empty(); });
                C = std::move(P->Queue.front());
                P->Queue.pop_front();
            }
            std::this_thread::sleep_until(C.Due);
            if (C.Bytes.empty()) {
                ::shutdown(To, SHUT_WR);
                return;
            }
            size_t Done = 0;
            while (Done < C.Bytes.size()) {
                const ssize_t N =
                    ::send(To, C.Bytes.data() + Done, C.Bytes.size() - Done, MSG_NOSIGNAL);
                if (N <= 0) {
                    ::shutdown(To, SHUT_RDWR);
                    return;
                }
                Done += size_t(N);
            }
        }
    });
    char Buffer[65536];
    for (;;) {
        const ssize_t N = ::recv(From, Buffer, sizeof Buffer, 0);
        TChunk C{Clock::now() + Delay, N > 0 ? std::string(Buffer, size_t(N)) : std::string()};
        {
            const std::lock_guard<std::mutex> L(P->Lock);
            P->Queue.push_back(std::move(C));
        }
        P->Ready.notify_one();
        if (N <= 0)
            break;
    }
    Writer.join();
}

int Connect(int Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(uint16_t(Port));
    if (Fd < 0 || ::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
        if (Fd >= 0)
            ::close(Fd);
        return -1;
    }
    return Fd;
}

void NoDelay(int Fd) {
    const int On = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TARGET_PORT RTT_MS [LISTEN_PORT]\n", argv[0]);
        return 2;
    }
    const int Target = std::atoi(argv[1]);
    const auto OneWay = std::chrono::microseconds(std::atoi(argv[2]) * 500);
    std::signal(SIGPIPE, SIG_IGN);

    const int Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int On = 1;
    ::setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(uint16_t(argc > 3 ? std::atoi(argv[3]) : 0));
    socklen_t Len = sizeof A;
    if (::bind(Listener, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
        ::listen(Listener, 128) != 0 ||
        ::getsockname(Listener, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
        std::perror("bench_delay_proxy: listen");
        return 1;
    }
    std::printf("%d\n", ntohs(A.sin_port));
    std::fflush(stdout);

    for (;;) {
        const int Client = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (Client < 0)
            continue;
        // The connection itself takes the round trip too (the client's SYN and the answer).
        std::thread([Client, Target, OneWay] {
            std::this_thread::sleep_for(2 * OneWay);
            const int Server = Connect(Target);
            if (Server < 0) {
                ::close(Client);
                return;
            }
            NoDelay(Client);
            NoDelay(Server);
            std::thread Up(Pump, Client, Server, OneWay);
            Pump(Server, Client, OneWay);
            Up.join();
            ::close(Client);
            ::close(Server);
        }).detach();
    }
}
