#pragma once

// Real second users and real small disks for the tests: the machines run as root.
#include <QDir>
#include <QProcess>
#include <QString>
#include <cstdlib>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tess::test {

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    bool ok = false;
};

// A plain unprivileged account, made once (useradd) and reused by later runs.
inline User secondUser() {
    static const char* const name = "tessavane-peer";
    if (::geteuid() != 0)
        return {};
    // Suites run side by side: another one may hold the password file's lock a moment.
    for (int attempt = 0; attempt < 20 && ::getpwnam(name) == nullptr; ++attempt) {
        if (QProcess::execute(QStringLiteral("/usr/sbin/useradd"),
                              {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                               QStringLiteral("--user-group"), QStringLiteral("--shell"),
                               QStringLiteral("/usr/sbin/nologin"), QString::fromLatin1(name)}) !=
            0)
            ::usleep(100 * 1000);
    }
    const passwd* pw = ::getpwnam(name);
    if (pw == nullptr)
        return {};
    return User{pw->pw_uid, pw->pw_gid, true};
}

// Runs what() in a child process as user (no extra groups) and returns its result;
// -1 when the child could not run or died. maxRssKb, when given, receives the
// child's peak resident memory.
inline int runAs(const User& user, const std::function<int()>& what, long* maxRssKb = nullptr) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (user.ok &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(user.gid, user.gid, user.gid) != 0 ||
             ::setresuid(user.uid, user.uid, user.uid) != 0))
            ::_exit(125);
        ::_exit(what());
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status))
        return -1;
    if (maxRssKb)
        *maxRssKb = usage.ru_maxrss;
    return WEXITSTATUS(status);
}

// The same in a child of the current user.
inline int runInChild(const std::function<int()>& what, long* maxRssKb = nullptr) {
    return runAs(User{}, what, maxRssKb);
}

// For its life the process acts as user (effective ids, no extra groups), in this
// process: a window test can then meet permissions as that user would. Root only.
class ActingAs {
public:
    explicit ActingAs(const User& user) {
        groups_.resize(::getgroups(0, nullptr));
        groups_.resize(::getgroups(int(groups_.size()), groups_.data()));
        ok_ = user.ok && ::setgroups(0, nullptr) == 0 && ::setegid(user.gid) == 0 &&
              ::seteuid(user.uid) == 0;
    }
    ~ActingAs() {
        if (::seteuid(0) != 0 || ::setegid(0) != 0 ||
            ::setgroups(groups_.size(), groups_.data()) != 0)
            std::abort(); // the rest of the suite must not run as someone else
    }
    bool ok() const { return ok_; }

private:
    std::vector<gid_t> groups_;
    bool ok_ = false;
};

// A tmpfs of the given size mounted on folder for the object's life: a disk that
// really fills up.
class SmallDisk {
public:
    SmallDisk(const QString& folder, const QString& size) : folder_(folder) {
        QDir().mkpath(folder);
        mounted_ = ::geteuid() == 0 &&
                   QProcess::execute(QStringLiteral("/usr/bin/mount"),
                                     {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                      QStringLiteral("-o"), QStringLiteral("size=") + size,
                                      QStringLiteral("tmpfs"), folder}) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            QProcess::execute(QStringLiteral("/usr/bin/umount"), {folder_});
    }
    bool mounted() const { return mounted_; }

private:
    QString folder_;
    bool mounted_ = false;
};

} // namespace tess::test
