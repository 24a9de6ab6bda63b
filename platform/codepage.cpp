#include "codepage.h"
#include <QStringDecoder>
#include <QStringEncoder>
#include <langinfo.h>
#include <mutex>

namespace {
std::mutex Lock;
QByteArray Override;   // setName(); empty: environment, then locale

// Names of plain ASCII (glibc calls it "ANSI_X3.4-1968"); its bytes are read
// as Latin-1 so that no byte is lost on display.
bool asciiName(const QByteArray& name)
{
    const QByteArray up = name.trimmed().toUpper();
    return up.isEmpty() || up == "ANSI_X3.4-1968" || up == "ASCII" || up == "US-ASCII" || up == "C"
           || up == "POSIX";
}

QByteArray usable(QByteArray n)
{
    n = n.trimmed();
    if (asciiName(n))
        return "ISO-8859-1";
    QStringDecoder decoder(n.constData());
    QStringEncoder encoder(n.constData());
    if (!decoder.isValid() || !encoder.isValid())
        return "ISO-8859-1";
    // Files, settings and the scale's texts are ASCII where it matters
    // (digits, separators, TAB, CR LF, "kg", section names): a code page that
    // spells them otherwise (UTF-16, EBCDIC) would write NUL bytes into PLU
    // files and read no settings.
    static const QByteArray probe = "09 AZaz.,;=[]\t\r\n\"'kg";
    if (QByteArray(encoder.encode(QString::fromLatin1(probe))) != probe
        || QString(decoder.decode(probe)) != QString::fromLatin1(probe))
        return "ISO-8859-1";
    return n;
}

// usable() opens converters; names are checked once each.
QByteArray usableCached(const QByteArray& n)
{
    static std::mutex cacheLock;
    static QByteArray lastAsked, lastAnswer;
    std::lock_guard<std::mutex> g(cacheLock);
    if (lastAsked != n || lastAnswer.isEmpty()) {
        lastAnswer = usable(n);
        lastAsked = n;
    }
    return lastAnswer;
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
        const QByteArray n = usableCached(requested);
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

QByteArray name() { return usableCached(current()); }

QByteArray refusedName()
{
    const QByteArray requested = current().trimmed();
    if (asciiName(requested))
        return {};   // plain ASCII is read as Latin-1 on purpose
    return usableCached(requested) == requested ? QByteArray() : requested;
}

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
