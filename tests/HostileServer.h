#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QUrl>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tess::test {

// A server written for one test: it listens on an address of this machine (one or
// more ports), reads each request's head and hands the connection to a script on
// a thread of its own. Bounded: at most 512 connections, and every script ends
// when the server goes (send() then fails, wait() returns false).
class HostileServer {
public:
    class Connection {
    public:
        QByteArray request; // the request's head
        int port = 0;       // the port it came in on

        // False once the peer is gone or the server stops.
        bool send(const QByteArray& bytes) {
            qsizetype done = 0;
            while (done < bytes.size() && !stop_->load()) {
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::send(fd_, bytes.constData() + done, size_t(bytes.size() - done),
                                         MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                done += n;
            }
            return done == bytes.size();
        }
        // Sleeps up to ms; false when the server stops meanwhile.
        bool wait(int ms) {
            for (int slept = 0; slept < ms && !stop_->load(); slept += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, ms - slept)));
            return !stop_->load();
        }
        // Whether the peer closes the connection within ms.
        bool closedWithin(int ms) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            char buffer[256];
            while (std::chrono::steady_clock::now() < end && !stop_->load()) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                if (::recv(fd_, buffer, sizeof buffer, 0) <= 0)
                    return true;
            }
            return false;
        }

    private:
        friend class HostileServer;
        int fd_ = -1;
        std::atomic_bool* stop_ = nullptr;
    };
    using Script = std::function<void(Connection&)>;

    explicit HostileServer(Script script, const QString& address = QStringLiteral("127.0.0.1"),
                           int ports = 1)
        : script_(std::move(script)), address_(address) {
        for (int i = 0; i < ports; ++i)
            listen();
        thread_ = std::thread([this] { acceptLoop(); });
    }
    ~HostileServer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::thread& t : workers_)
            t.join();
        for (const Listener& l : listeners_)
            ::close(l.fd);
    }
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    bool listening() const { return !listeners_.empty() && listeners_.size() == wanted_; }
    QUrl url(const QString& path, int which = 0) const {
        const QString host = address_.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + address_ + QLatin1Char(']')
                                 : address_;
        return QUrl(QStringLiteral("http://") + host + QLatin1Char(':') +
                    QString::number(listeners_[size_t(which)].port) + path);
    }
    int accepted() const { return accepted_; }

private:
    struct Listener {
        int fd;
        int port;
    };

    void listen() {
        ++wanted_;
        const bool v6 = address_.contains(QLatin1Char(':'));
        const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage storage{};
        socklen_t length = 0;
        if (v6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
            a->sin6_family = AF_INET6;
            ::inet_pton(AF_INET6, address_.toLatin1().constData(), &a->sin6_addr);
            length = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&storage);
            a->sin_family = AF_INET;
            ::inet_pton(AF_INET, address_.toLatin1().constData(), &a->sin_addr);
            length = sizeof *a;
        }
        auto* any = reinterpret_cast<sockaddr*>(&storage);
        if (fd < 0 || ::bind(fd, any, length) != 0 || ::listen(fd, 128) != 0 ||
            ::getsockname(fd, any, &length) != 0) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        const int port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(any)->sin6_port
                                  : reinterpret_cast<sockaddr_in*>(any)->sin_port);
        listeners_.push_back({fd, port});
    }

    void acceptLoop() {
        std::vector<pollfd> polls;
        for (const Listener& l : listeners_)
            polls.push_back({l.fd, POLLIN, 0});
        while (!stop_) {
            if (::poll(polls.data(), polls.size(), 50) <= 0)
                continue;
            for (size_t i = 0; i < polls.size(); ++i) {
                if (!(polls[i].revents & POLLIN))
                    continue;
                const int fd = ::accept4(polls[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    continue;
                if (accepted_ >= 512) {
                    ::close(fd);
                    continue;
                }
                ++accepted_;
                std::lock_guard<std::mutex> lock(mutex_);
                const int port = listeners_[i].port;
                workers_.emplace_back([this, fd, port] { serve(fd, port); });
            }
        }
    }

    void serve(int fd, int port) {
        Connection c;
        c.fd_ = fd;
        c.stop_ = &stop_;
        c.port = port;
        char buffer[4096];
        while (!c.request.contains("\r\n\r\n") && c.request.size() < 65536 && !stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            c.request.append(buffer, n);
        }
        if (c.request.contains("\r\n\r\n"))
            script_(c);
        ::close(fd);
    }

    Script script_;
    QString address_;
    size_t wanted_ = 0;
    std::vector<Listener> listeners_;
    std::atomic_bool stop_{false};
    std::atomic_int accepted_{0};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

// An address outside every private range, put on the loopback interface for the
// test's life: a "public" server that is still this machine. Null when the
// machine does not allow it (no root, no IPv6).
class PublicAddress {
public:
    PublicAddress() {
        // 2001:db8::/32 is for documentation: never routed, never anyone's.
        const QString candidate = QStringLiteral("2001:db8::%1").arg(::getpid() & 0xffff, 0, 16);
        if (ip({QStringLiteral("-6"), QStringLiteral("addr"), QStringLiteral("add"),
                candidate + QStringLiteral("/128"), QStringLiteral("dev"), QStringLiteral("lo"),
                QStringLiteral("nodad")}))
            address_ = candidate;
    }
    ~PublicAddress() {
        if (!address_.isEmpty())
            ip({QStringLiteral("-6"), QStringLiteral("addr"), QStringLiteral("del"),
                address_ + QStringLiteral("/128"), QStringLiteral("dev"), QStringLiteral("lo")});
    }
    PublicAddress(const PublicAddress&) = delete;
    PublicAddress& operator=(const PublicAddress&) = delete;
    QString address() const { return address_; }

private:
    static bool ip(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral("/usr/sbin/ip"), args);
        return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }
    QString address_;
};

} // namespace tess::test
