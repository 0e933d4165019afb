// DelayProxy: a TCP forwarder on 127.0.0.1 that holds every byte for a fixed
// time in each direction before passing it on, as a link to a server in
// another building would, and counts the client's round trips of the
// PostgreSQL protocol: each simple Query and each Sync of the extended
// protocol waits for the server's answer before the client goes on.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DelayProxy
{
public:
    using Clock = std::chrono::steady_clock;

    // Listens on a free port of 127.0.0.1 and forwards each connection to
    // `targetPort` there, `delay` late in both directions.
    DelayProxy(int targetPort, std::chrono::microseconds delay) : m_target(targetPort), m_delay(delay)
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = Loopback(0);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        listen(m_listener, 16);
        m_acceptor = std::thread([this] { AcceptLoop(); });
    }

    ~DelayProxy()
    {
        m_stopping = true;
        m_acceptor.join();
        close(m_listener);
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        for (auto& connection : m_connections) {
            shutdown(connection->client, SHUT_RDWR);
            shutdown(connection->server, SHUT_RDWR);
            for (std::thread& thread : connection->threads)
                thread.join();
            close(connection->client);
            close(connection->server);
        }
    }

    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    int Port() const { return m_port; }
    long RoundTrips() const { return m_roundTrips; }
    void ResetRoundTrips() { m_roundTrips = 0; }

private:
    struct Chunk
    {
        Clock::time_point due;
        std::string bytes;  // empty: the sender closed its side
    };
    // One direction: a reader queues what arrives, a writer sends it when due.
    struct Pipe
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Chunk> chunks;
    };
    struct Connection
    {
        int client = -1;
        int server = -1;
        Pipe up, down;
        std::vector<std::thread> threads;
    };

    static sockaddr_in Loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        return address;
    }

    void AcceptLoop()
    {
        while (!m_stopping) {
            pollfd wait{m_listener, POLLIN, 0};
            if (poll(&wait, 1, 50) <= 0)
                continue;
            const int client = accept(m_listener, nullptr, nullptr);
            if (client < 0)
                continue;
            const int server = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in target = Loopback(m_target);
            if (connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
                close(client);
                close(server);
                continue;
            }
            const int on = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            auto connection = std::make_unique<Connection>();
            Connection* c = connection.get();
            c->client = client;
            c->server = server;
            c->threads.emplace_back([this, c] { Read(c->client, c->up, true); });
            c->threads.emplace_back([this, c] { Write(c->server, c->up); });
            c->threads.emplace_back([this, c] { Read(c->server, c->down, false); });
            c->threads.emplace_back([this, c] { Write(c->client, c->down); });
            std::lock_guard<std::mutex> lock(m_connectionsMutex);
            m_connections.push_back(std::move(connection));
        }
    }

    void Read(int from, Pipe& pipe, bool fromClient)
    {
        std::string parsed;  // client bytes not yet read as whole messages
        bool startup = true;
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(from, buffer, sizeof buffer, 0);
            Chunk chunk{Clock::now() + m_delay, n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string()};
            if (fromClient && n > 0)
                Count(parsed, chunk.bytes, startup);
            {
                std::lock_guard<std::mutex> lock(pipe.mutex);
                pipe.chunks.push_back(std::move(chunk));
            }
            pipe.ready.notify_one();
            if (n <= 0)
                return;
        }
    }

    void Write(int to, Pipe& pipe)
    {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> lock(pipe.mutex);
                pipe.ready.wait(lock, [&] { return !pipe.chunks.empty(); });
                chunk = std::move(pipe.chunks.front());
                pipe.chunks.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.empty()) {
                shutdown(to, SHUT_WR);
                return;
            }
            for (size_t sent = 0; sent < chunk.bytes.size();) {
                const ssize_t n = send(to, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += static_cast<size_t>(n);
            }
        }
    }

    static uint32_t BigEndian(const std::string& bytes, size_t at)
    {
        return (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
               static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
    }

    // Client messages: untyped (length, code) until the startup message,
    // which an SSL or GSS encryption request may precede; typed after it.
    void Count(std::string& parsed, const std::string& bytes, bool& startup)
    {
        parsed += bytes;
        size_t at = 0;
        for (;;) {
            const size_t head = startup ? 0 : 1;
            if (parsed.size() - at < head + 4)
                break;
            const uint32_t length = BigEndian(parsed, at + head);
            if (parsed.size() - at < head + length)
                break;
            if (startup) {
                const uint32_t code = length >= 8 ? BigEndian(parsed, at + 4) : 0;
                startup = code == 80877103u || code == 80877104u;
            } else if (parsed[at] == 'Q' || parsed[at] == 'S') {
                ++m_roundTrips;
            }
            at += head + length;
        }
        parsed.erase(0, at);
    }

    int m_target;
    std::chrono::microseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<long> m_roundTrips{0};
    std::thread m_acceptor;
    std::mutex m_connectionsMutex;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
