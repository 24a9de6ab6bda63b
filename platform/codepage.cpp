#include "codepage.h"
#include <QStringDecoder>
#include <QStringEncoder>
#include <langinfo.h>
#include <mutex>

namespace {
std::mutex Lock;
QByteArray Override;   // setName(); empty: environment, then locale

QByteArray usable(QByteArray n)
{
    n = n.trimmed();
    const QByteArray up = n.toUpper();
    // glibc calls plain ASCII "ANSI_X3.4-1968"; read those bytes as Latin-1
    // so no byte is lost on display.
    if (up.isEmpty() || up == "ANSI_X3.4-1968" || up == "ASCII" || up == "US-ASCII"
        || up == "C" || up == "POSIX")
        return "ISO-8859-1";
    if (!QStringDecoder(n.constData()).isValid() || !QStringEncoder(n.constData()).isValid())
        return "ISO-8859-1";
    return n;
}

// The process locale is set by the program (QCoreApplication does
// setlocale(LC_ALL, "") on Unix); the library never changes it.
QByteArray current()
{
    std::lock_guard<std::mutex> g(Lock);
    if (!Override.isEmpty())
        return Override;
    const QByteArray env = qgetenv("VARLO_CODEPAGE");
    if (!env.trimmed().isEmpty())
        return env;
    return nl_langinfo(CODESET);
}

// Converters are costly to open (ICU); keep one pair per thread and name.
struct Converters {
    QByteArray requested;   // the name asked for, before checking it
    QStringDecoder decoder;
    QStringEncoder encoder;
};

Converters& converters()
{
    thread_local Converters c;
    const QByteArray requested = current();
    if (c.requested != requested || !c.decoder.isValid()) {
        const QByteArray n = usable(requested);
        c.requested = requested;
        c.decoder = QStringDecoder(n.constData());
        c.encoder = QStringEncoder(n.constData());
    }
    c.decoder.resetState();
    c.encoder.resetState();
    return c;
}
} // namespace

namespace cp {

QByteArray name() { return usable(current()); }

void setName(const QByteArray& codePage)
{
    std::lock_guard<std::mutex> g(Lock);
    Override = codePage.isEmpty() ? QByteArray() : usable(codePage);
}

void useLocaleCodePage() { setName({}); }

QString decode(const QByteArray& bytes) { return converters().decoder.decode(bytes); }

QByteArray encode(const QString& text) { return converters().encoder.encode(text); }

int byteLength(const QString& text) { return int(encode(text).size()); }

} // namespace cp
