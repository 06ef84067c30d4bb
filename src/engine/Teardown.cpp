#include "engine/Teardown.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tess::Teardown {

namespace {

struct Entry {
    int dir;
    QByteArray name;
    int self; // a folder's own descriptor; -1 for a file
    bool operator==(const Entry& o) const {
        return dir == o.dir && name == o.name && self == o.self;
    }
};

// Taken for good by the clean-up: whatever the other threads do next, nothing new
// is made and left behind.
std::mutex& lock() {
    static std::mutex m;
    return m;
}
std::vector<Entry>& entries() {
    static std::vector<Entry> e;
    return e;
}
std::vector<long long>& children() {
    static std::vector<long long> c;
    return c;
}

// The program's registrations, when this copy lives in a loaded library.
const Registrations* g_forward = nullptr;

#ifndef _WIN32
int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    // Async-signal-safe: one write; a full pipe means a clean-up is already under way.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void endChild(pid_t pid) {
    if (::kill(pid, SIGTERM) != 0)
        return;
    // Two seconds for it to remove its own files, then no more.
    for (int i = 0; i < 200; ++i) {
        const pid_t w = ::waitpid(pid, nullptr, WNOHANG);
        if (w == pid || (w < 0 && errno == ECHILD && ::kill(pid, 0) != 0))
            return;
        const timespec tick{0, 10 * 1000 * 1000};
        ::nanosleep(&tick, nullptr);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

[[noreturn]] void cleanUpAndExit(int sig) {
    lock().lock(); // never released: the process ends holding it
    for (const long long pid : children())
        endChild(static_cast<pid_t>(pid));
    for (const Entry& e : entries()) {
        if (e.self >= 0) {
            removeContents(e.self);
            ::unlinkat(e.dir, e.name.constData(), AT_REMOVEDIR);
        } else
            ::unlinkat(e.dir, e.name.constData(), 0);
    }
    ::_exit(128 + sig);
}

void watch() {
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(g_pipe[0], &byte, 1);
        if (n == 1)
            cleanUpAndExit(byte);
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
}
#endif

} // namespace

int createFileAt(int dir, const QByteArray& name, int flags, unsigned mode) {
    if (g_forward)
        return g_forward->createFileAt(dir, name, flags, mode);
#ifndef _WIN32
    const std::lock_guard<std::mutex> hold(lock());
    const int fd = ::openat(dir, name.constData(), flags, static_cast<mode_t>(mode));
    if (fd >= 0)
        entries().push_back(Entry{dir, name, -1});
    return fd;
#else
    (void)dir, (void)name, (void)flags, (void)mode;
    return -1;
#endif
}

void dropFile(int dir, const QByteArray& name) {
    if (g_forward)
        return g_forward->dropFile(dir, name);
    const std::lock_guard<std::mutex> hold(lock());
    auto& e = entries();
    e.erase(std::remove(e.begin(), e.end(), Entry{dir, name, -1}), e.end());
}

void addFolder(int parent, const QByteArray& name, int self) {
    if (g_forward)
        return g_forward->addFolder(parent, name, self);
    const std::lock_guard<std::mutex> hold(lock());
    entries().push_back(Entry{parent, name, self});
}

void dropFolder(int self) {
    if (g_forward)
        return g_forward->dropFolder(self);
    const std::lock_guard<std::mutex> hold(lock());
    auto& e = entries();
    e.erase(std::remove_if(e.begin(), e.end(), [&](const Entry& x) { return x.self == self; }),
            e.end());
}

long long startChild(const std::function<long long()>& start) {
    if (g_forward)
        return g_forward->startChild(start);
    const std::lock_guard<std::mutex> hold(lock());
    const long long pid = start();
    if (pid > 0)
        children().push_back(pid);
    return pid;
}

void addChild(long long pid) {
    if (g_forward)
        return g_forward->addChild(pid);
    const std::lock_guard<std::mutex> hold(lock());
    children().push_back(pid);
}

void dropChild(long long pid) {
    if (g_forward)
        return g_forward->dropChild(pid);
    const std::lock_guard<std::mutex> hold(lock());
    auto& c = children();
    c.erase(std::remove(c.begin(), c.end(), pid), c.end());
}

const Registrations& program() {
    static const Registrations own{createFileAt, dropFile, addFolder, dropFolder,
                                   startChild,   addChild, dropChild};
    return own;
}

void registerWith(const Registrations& programs) {
    // The program's own copy never forwards to itself.
    if (&programs != &program())
        g_forward = &programs;
}

void installSignalHandlers() {
#ifndef _WIN32
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(g_pipe, O_CLOEXEC) != 0)
            return;
        std::thread(watch).detach();
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            // A signal ignored when we started (nohup, a background job) stays ignored.
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
                continue;
            ::sigaction(sig, &sa, nullptr);
        }
    });
#endif
}

int removeContents(int fd) {
#ifndef _WIN32
    const int own = ::dup(fd); // closedir closes it; the caller keeps fd
    DIR* d = own < 0 ? nullptr : ::fdopendir(own);
    if (d == nullptr) {
        const int err = errno;
        if (own >= 0)
            ::close(own);
        return err;
    }
    ::rewinddir(d);
    // Names first, removal after: a folder read while it changes may skip entries.
    std::vector<QByteArray> names;
    while (const dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
            continue;
        names.emplace_back(n);
    }
    ::closedir(d);
    int err = 0;
    for (const QByteArray& n : names) {
        struct stat st {};
        if (::fstatat(fd, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const int r = S_ISDIR(st.st_mode)                     ? removeTree(fd, n.constData())
                      : ::unlinkat(fd, n.constData(), 0) == 0 ? 0
                                                              : errno;
        if (r && !err)
            err = r;
    }
    return err;
#else
    (void)fd;
    return 0;
#endif
}

int removeTree(int dir, const char* name) {
#ifndef _WIN32
    const int fd = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;
    int err = removeContents(fd);
    ::close(fd);
    if (::unlinkat(dir, name, AT_REMOVEDIR) != 0 && !err)
        err = errno == ENOENT ? 0 : errno;
    return err;
#else
    (void)dir, (void)name;
    return 0;
#endif
}

} // namespace tess::Teardown
