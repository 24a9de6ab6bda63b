#include "atomicfile.h"
#include "errors.h"
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic<int> FailCountdown{0};
std::atomic<int> FailErrno{0};

// write(2), unless the test hook says this is the call that fails.
ssize_t hookedWrite(int fd, const char* p, size_t n)
{
    int left = FailCountdown.load();
    if (left > 0 && FailCountdown.compare_exchange_strong(left, left - 1) && left == 1) {
        errno = FailErrno.load();
        return -1;
    }
    return ::write(fd, p, n);
}

QString reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

[[noreturn]] void fail(const char* what, const QString& path, int err)
{
    throw EInOutError(QString::fromLatin1(what) + path, reason(err));
}
} // namespace

void SetAtomicWriteFailure(int nthWrite, int err)
{
    FailErrno.store(err);
    FailCountdown.store(nthWrite > 0 ? nthWrite : 0);
}

namespace {
// Where a save of `path` goes, and what stands there now.
struct Destination {
    QByteArray dest, dir, base;
    bool hadOld = false;
    struct stat old {};
};

// Everything that can be known to fail before a byte is written.
Destination resolveDestination(const QString& path)
{
    // Write through a symbolic link to its target, as an in-place save would;
    // a link whose target is missing creates the target and stays a link.
    QString target = path;
    for (int hops = 0; QFileInfo(target).isSymLink(); ++hops) {
        if (hops == 40)
            fail("Cannot create file ", path, ELOOP);
        target = QFileInfo(target).symLinkTarget();
    }
    Destination d;
    d.dest = QFile::encodeName(target);
    const QFileInfo destInfo(target);
    d.dir = QFile::encodeName(destInfo.absolutePath());
    d.base = QFile::encodeName(destInfo.fileName());

    d.hadOld = ::stat(d.dest.constData(), &d.old) == 0;
    // The rename would put a plain file in the place of a directory, a device
    // such as /dev/null, or a pipe: only plain files are replaced.
    if (d.hadOld && S_ISDIR(d.old.st_mode))
        fail("Cannot create file ", path, EISDIR);
    if (d.hadOld && !S_ISREG(d.old.st_mode))
        throw EInOutError(QStringLiteral("Cannot create file ") + path, QStringLiteral("not a regular file"));
    // Replacing needs only the directory; a file we may not write stays as it is.
    if (d.hadOld && ::access(d.dest.constData(), W_OK) != 0)
        fail("Cannot create file ", path, errno);
    if (::access(d.dir.constData(), W_OK | X_OK) != 0)
        fail("Cannot create file ", path, errno);
    return d;
}

// Temporary files of saves of `base` that a crash or a kill interrupted:
// ".<base>.tmp<pid>.<n>" of a process that no longer runs. A running
// process's file may be a save in progress and stays.
void removeLeftovers(const QByteArray& dir, const QByteArray& base)
{
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return;
    const QByteArray prefix = "." + base + ".tmp";
    while (const dirent* e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (!name.startsWith(prefix))
            continue;
        const QByteArrayList parts = name.mid(prefix.size()).split('.');
        bool pidOk = false, counterOk = false;
        const long pid = parts.size() == 2 ? parts[0].toLong(&pidOk) : 0;
        parts.value(1).toULong(&counterOk);
        const bool gone = pidOk && counterOk && pid > 0 && pid <= INT_MAX && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
        if (!gone)
            continue;
        const QByteArray path = dir + "/" + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path.constData());
    }
    ::closedir(d);
}
} // namespace

void CheckAtomicWrite(const QString& path) { resolveDestination(path); }

QString NotAPlainFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    return info.isDir() ? QString::fromLocal8Bit(std::strerror(EISDIR)) : QStringLiteral("not a regular file");
}

void WriteFileAtomically(const QString& path, const QByteArray& data)
{
    const Destination d = resolveDestination(path);
    const QByteArray& dest = d.dest;
    const QByteArray& dir = d.dir;
    const QByteArray& base = d.base;
    const bool hadOld = d.hadOld;
    const struct stat& old = d.old;
    removeLeftovers(dir, base);

    // O_EXCL with mode 0666 lets the umask decide a new file's permissions.
    QByteArray tmp;
    int fd = -1;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tmp = dir + "/." + base + ".tmp" + QByteArray::number(::getpid()) + "."
            + QByteArray::number(counter++);
        fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        fail("Cannot create file ", path, errno);

    auto abandon = [&](const char* what, int err) {
        ::close(fd);
        ::unlink(tmp.constData());
        fail(what, path, err);
    };
    if (hadOld) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not the owner: the new file stays ours, which is all we can do.
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            abandon("Cannot create file ", errno);
    }
    const char* p = data.constData();
    size_t left = size_t(data.size());
    while (left > 0) {
        const ssize_t n = hookedWrite(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            abandon("Cannot write file ", errno);
        }
        p += n;
        left -= size_t(n);
    }
    if (::fsync(fd) != 0)
        abandon("Cannot write file ", errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        fail("Cannot write file ", path, err);
    }
    if (::rename(tmp.constData(), dest.constData()) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        fail("Cannot write file ", path, err);
    }
    // Make the rename itself durable; failure here loses nothing already written.
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}
