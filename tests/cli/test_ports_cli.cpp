// varlo-manager ports, and each way a port cannot be opened with the fix it
// names, as an ordinary user meets them (the suite runs as root, so those
// cases run the program as nobody).
#include "loopback.h"
#include "programrun.h"
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The program in the directory `home`, as nobody when `asNobody` (root
// otherwise stays root).
Result Manager(const QStringList& args, const QString& home, bool asNobody)
{
    if (asNobody && ::geteuid() == 0)
        return RunProgram("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", ManagerPath()}
                              + args + QStringList{"--home", home}, ScriptEnvironment(), {}, 20000);
    return RunManager(args, home, 20000);
}

// A pseudo-terminal whose slave stands for the scale's port.
struct PtyPort {
    PtyPort()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        slave = QString::fromLocal8Bit(::ptsname(master));
    }
    ~PtyPort()
    {
        releaseHolder();
        ::close(master);
    }
    // Another program holds the port and its lock; it is called `name`.
    void holdAs(const char* name)
    {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        holder = ::fork();
        if (holder == 0) {
            const int fd = ::open(QFile::encodeName(slave).constData(), O_RDWR | O_NOCTTY);
            ::flock(fd, LOCK_EX | LOCK_NB);
            ::prctl(PR_SET_NAME, name);
            [[maybe_unused]] ssize_t n = ::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    void releaseHolder()
    {
        if (holder > 0) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
            holder = -1;
        }
    }
    int master = -1;
    pid_t holder = -1;
    QString slave;
};

class PortsCommand : public ::testing::Test {
protected:
    // nobody writes DEBUG.LOG there
    void SetUp() override { ::chmod(QFile::encodeName(Home.path()).constData(), 0777); }
    Result Run(const QStringList& args, bool asNobody) { return Manager(args, Home.path(), asNobody); }
    ScopedHome Home;
};

TEST_F(PortsCommand, ListsMappedPortsUnderTheirNames)
{
    Result r = Run({"ports"}, false);
    EXPECT_EQ(r.status, 0) << "an empty list is no error";
    EXPECT_EQ(S(r.err), "");

    PtyPort pty;
    Home.write("KYR.CFG", "[Devices]\r\nCOM2=" + pty.slave.toLatin1() + "\r\nCOM3=rfc2217://scale-deli.local:4001\r\n"
               "COM4=/dev/varlo-unplugged\r\n");
    r = Run({"ports"}, false);
    EXPECT_EQ(r.status, 0) << S(r.err);
    const QStringList lines = QString::fromLocal8Bit(r.out).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines)
        EXPECT_EQ(line.count('\t'), 3) << S(line);
    for (const QString& line : {"COM2\t" + pty.slave + "\tpseudo-terminal\tfree",
                                QString("COM3\trfc2217://scale-deli.local:4001\tserial device server "
                                        "(Telnet, COM port control)\t-"),
                                QString("COM4\t/dev/varlo-unplugged\tnot present\tmissing")})
        EXPECT_TRUE(lines.contains(line)) << S(line) << " in\n" << S(r.out);

    ::chmod(QFile::encodeName(pty.slave).constData(), 0666);
    pty.holdAs("brltty");
    r = Run({"ports"}, true);
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_TRUE(r.out.contains(QString("COM2\t%1\tpseudo-terminal\tbusy brltty %2\n").arg(pty.slave).arg(pty.holder).toLocal8Bit()))
        << S(r.out);

    ::chmod(QFile::encodeName(pty.slave).constData(), 0600);
    r = Run({"ports"}, true);
    EXPECT_TRUE(r.out.contains(("COM2\t" + pty.slave + "\tpseudo-terminal\tno permission\n").toLocal8Bit())) << S(r.out);
}

// Each open failure: the fixed message first, then what to do.
TEST_F(PortsCommand, OpenFailuresNameTheFix)
{
    PtyPort pty;
    const QByteArray slave = QFile::encodeName(pty.slave);
    auto upload = [&](const QString& port) { return Run({"upload", Home.file("OUT.KYR"), "--port", port}, true); };
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);

    // No permission: the device's group, that the user is not in it, the command.
    ASSERT_EQ(::chown(slave.constData(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(slave.constData(), 0660), 0);
    Result r = upload(pty.slave);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.startsWith("Error opening serial port\n")) << S(r.err);
    EXPECT_TRUE(::geteuid() != 0 || r.err.contains("belongs to group dialout and nobody is not in it: "
                                                   "sudo usermod -aG dialout nobody, then log in again.")) << S(r.err);

    // Busy: the program that holds the lock, and advice for a known grabber.
    ASSERT_EQ(::chmod(slave.constData(), 0666), 0);
    pty.holdAs("ModemManager");
    r = upload(pty.slave);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QString("the port is in use by another program: ModemManager (PID %1, holding "
                                       "its lock).").arg(pty.holder).toLocal8Bit())) << S(r.err);
    EXPECT_TRUE(r.err.contains("sudo systemctl mask --now ModemManager.service")) << S(r.err);
    pty.releaseHolder();

    // Missing, not a serial device, nothing listening on the network.
    const struct {
        QString port;
        const char *first, *hint;
    } cases[] = {
        {"/dev/varlo-gone", "Error opening serial port", "/dev/varlo-gone is gone; "},
        {"/dev/null", "Cannot setup comm buffer", "(not a serial device)"},
        {QString("tcp://127.0.0.1:%1").arg(FreeLoopbackPort()), "Error opening serial port",
         "connection refused; nothing listens on port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.port));
        r = upload(c.port);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.startsWith(QByteArray(c.first) + "\n")) << S(r.err);
        EXPECT_TRUE(r.err.contains(c.hint)) << S(r.err);
    }
}

} // namespace
