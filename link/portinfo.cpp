#include "portinfo.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const char* const ByIdDir = "/dev/serial/by-id";

QString ProgramOf(const QString& procRoot, int pid)
{
    QFile f(QString("%1/%2/comm").arg(procRoot).arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

// Pids of the flock and POSIX locks on the file (device and inode).
QList<int> LockHolders(const QString& procRoot, const struct stat& st)
{
    QList<int> pids;
    QFile f(procRoot + "/locks");
    if (!f.open(QIODevice::ReadOnly))
        return pids;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:1043 0 EOF"
    const QString want = QString("%1:%2:%3")
                             .arg(major(st.st_dev), 2, 16, QChar('0'))
                             .arg(minor(st.st_dev), 2, 16, QChar('0'))
                             .arg(st.st_ino);
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> w = line.simplified().split(' ');
        if (w.size() >= 6 && w[1] != "->" && QString::fromLatin1(w[5]) == want)
            pids << w[4].toInt();
    }
    return pids;
}

QList<int> Pids(const QString& procRoot)
{
    QList<int> pids;
    for (const QString& name : QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const int pid = name.toInt(&ok);
        if (ok)
            pids << pid;
    }
    return pids;
}

bool HasOpen(const QString& procRoot, int pid, const QString& target)
{
    const QDir fds(QString("%1/%2/fd").arg(procRoot).arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    return false;
}

QString HoldersText(const QList<PortHolder>& holders)
{
    QStringList parts;
    for (const PortHolder& h : holders)
        parts << QString("%1 (PID %2%3)").arg(h.program).arg(h.pid).arg(h.holdsLock ? ", holding its lock" : "");
    return parts.join(", ");
}

QString UserName()
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
}

bool InGroupFile(const QString& user, gid_t gid)
{
    const group* g = ::getgrgid(gid);
    if (!g)
        return false;
    for (char** m = g->gr_mem; m && *m; ++m)
        if (user == QString::fromLocal8Bit(*m))
            return true;
    return false;
}

QString PermissionHint(const QString& path)
{
    struct stat st = {};
    const QString head = path + ": " + qt_error_string(EACCES) + ". ";
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return head + "Serial ports need membership of the dialout group.";
    const group* g = ::getgrgid(st.st_gid);
    const QString group = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    const QString user = UserName();
    if (st.st_gid == 0 || !(st.st_mode & S_IRGRP) || !(st.st_mode & S_IWGRP))
        return head + QString("Only its owner may use it (mode %1); a udev rule must give it to a group "
                              "such as dialout.").arg(st.st_mode & 0777, 3, 8, QChar('0'));
    if (InGroupFile(user, st.st_gid))
        return head + QString("It belongs to group %1, and %2 was added to %1 after this session "
                              "began: log out and in again.").arg(group, user);
    return head + QString("It belongs to group %1 and %2 is not in it: "
                          "sudo usermod -aG %1 %2, then log in again.").arg(group, user);
}

QString BusyHint(const QString& path)
{
    QString text = path + ": the port is in use by another program";
    const QList<PortHolder> holders = PortHolders(path);
    QList<PortHolder> grabbers = holders;
    if (holders.isEmpty()) {
        text += " that this user cannot see (sudo fuser -v " + path + " names it)";
        grabbers = KnownPortGrabbers();
        if (!grabbers.isEmpty())
            text += "; running now: " + HoldersText(grabbers);
    } else {
        text += ": " + HoldersText(holders);
    }
    text += ".";
    QStringList advised;
    for (const PortHolder& h : std::as_const(grabbers))
        if (!advised.contains(h.program) && !GrabberAdvice(h.program).isEmpty()) {
            advised << h.program;
            text += " " + GrabberAdvice(h.program);
        }
    return text;
}

QString MissingHint(const QString& path, int err)
{
    QStringList present;
    for (const SerialPortEntry& e : ListSerialPorts())
        present << e.path;
    const bool nodeLeft = QFileInfo::exists(path);   // a node whose device went away
    const QString head = path + ": " + qt_error_string(err) + ". " + path +
                         (nodeLeft ? " has no device behind it" : " is gone");
    if (present.isEmpty())
        return head + "; no serial port is present (is the adapter plugged in?)";
    return head + "; " + present.join(", ") + (present.size() == 1 ? " is present" : " are present");
}

} // namespace

QList<PortHolder> PortHolders(const QString& path, const QString& procRoot)
{
    QList<PortHolder> out;
    const QString target = QFileInfo(path).canonicalFilePath();
    struct stat st = {};
    if (target.isEmpty() || ::stat(QFile::encodeName(target).constData(), &st) != 0)
        return out;
    for (int pid : LockHolders(procRoot, st))
        out << PortHolder{pid, ProgramOf(procRoot, pid), true};
    const int self = int(::getpid());
    for (int pid : Pids(procRoot)) {
        const bool known = std::any_of(out.begin(), out.end(), [pid](const PortHolder& h) { return h.pid == pid; });
        if (pid != self && !known && HasOpen(procRoot, pid, target))
            out << PortHolder{pid, ProgramOf(procRoot, pid), false};
    }
    return out;
}

QList<PortHolder> KnownPortGrabbers(const QString& procRoot)
{
    QList<PortHolder> out;
    for (int pid : Pids(procRoot)) {
        const QString program = ProgramOf(procRoot, pid);
        if (!GrabberAdvice(program).isEmpty())
            out << PortHolder{pid, program, false};
    }
    return out;
}

QString GrabberAdvice(const QString& program)
{
    if (program == "brltty")
        return "brltty (braille displays) is known to grab USB serial adapters: without a braille "
               "display, sudo systemctl mask --now brltty-udev.service brltty.service, or remove "
               "the brltty package.";
    if (program == "ModemManager")
        return "ModemManager is known to grab USB serial adapters: sudo systemctl mask --now "
               "ModemManager.service, or a udev rule with ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the adapter.";
    return {};
}

QString SerialPortEntry::stateText() const
{
    switch (state) {
    case Free: return QStringLiteral("free");
    case NoPermission: return QStringLiteral("no permission");
    case Missing: return QStringLiteral("missing");
    case Busy: break;
    }
    if (holders.isEmpty())
        return QStringLiteral("busy");
    return QString("busy %1 %2").arg(holders.first().program).arg(holders.first().pid);
}

void FillPortState(SerialPortEntry& e)
{
    const QByteArray node = QFile::encodeName(e.node.isEmpty() ? e.path : e.node);
    e.holders.clear();
    if (::access(node.constData(), F_OK) != 0)
        e.state = SerialPortEntry::Missing;
    else if (::access(node.constData(), R_OK | W_OK) != 0)
        e.state = SerialPortEntry::NoPermission;
    else {
        e.holders = PortHolders(QFile::decodeName(node));
        e.state = e.holders.isEmpty() ? SerialPortEntry::Free : SerialPortEntry::Busy;
    }
}

QList<SerialPortEntry> ListSerialPorts()
{
    // The stable names, by the node they lead to.
    QHash<QString, QString> byId;
    const QDir ids(QString::fromLatin1(ByIdDir));
    for (const QString& name : ids.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(QFileInfo(ids.filePath(name)).canonicalFilePath(), ids.filePath(name));

    QList<SerialPortEntry> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString node = info.systemLocation();
        if (info.portName().startsWith("ttyS")) {
            // A built-in UART without hardware reports type 0 (unknown).
            QFile type("/sys/class/tty/" + info.portName() + "/type");
            if (!type.open(QIODevice::ReadOnly) || type.readAll().trimmed().toInt() == 0)
                continue;
        }
        SerialPortEntry e;
        e.node = node;
        e.path = byId.value(QFileInfo(node).canonicalFilePath(), node);
        QStringList d;
        for (const QString& s : {info.manufacturer(), info.description(), info.serialNumber()})
            if (!s.isEmpty() && !d.contains(s))
                d << s;
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            d << QString("USB %1:%2")
                     .arg(info.vendorIdentifier(), 4, 16, QChar('0'))
                     .arg(info.productIdentifier(), 4, 16, QChar('0'));
        e.description = d.isEmpty() && info.portName().startsWith("ttyS") ? QStringLiteral("built-in serial port")
                                                                           : d.join(", ");
        FillPortState(e);
        out << e;
    }
    std::sort(out.begin(), out.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.path < b.path; });
    return out;
}

QString OpenFailureHint(const QString& path, int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return PermissionHint(path);
    case EBUSY:
    case EWOULDBLOCK:
        return BusyHint(path);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return MissingHint(path, err);
    default:
        return path + ": " + qt_error_string(err);
    }
}
