// libFuzzer target: any bytes as an INI file. Parsing and reading must not
// crash, and a key written into a copy must read back as written.
#include "inifile.h"
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString scratchDir()
{
    const QString base = QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base + "/fuzz_ini.XXXXXX");
    if (!::mkdtemp(pattern.data()))
        std::abort();
    static QString made = QFile::decodeName(pattern) + '/';
    std::atexit([] { QDir(made).removeRecursively(); });
    return made;
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString dir = scratchDir();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    writeRaw(dir + "in.ini", input);

    const IniFile ini(dir + "in.ini");
    ini.readString("default", "Price Dot", "def");
    ini.readInt("Default", "price length", 8);
    ini.readString("", "", {});

    // The value comes from the input's tail; a section and key it may also hold.
    const QByteArray value = input.right(std::min<qsizetype>(input.size(), 80));
    const QByteArray section = (size % 3 == 0) ? "default" : (size % 3 == 1) ? "DEFAULT" : "new";
    writeRaw(dir + "copy.ini", input);
    IniFile::writeString(dir + "copy.ini", section, "Price Dot", value);

    QByteArray expected = value;
    for (qsizetype i = 0; i < expected.size(); ++i)
        if (expected[i] == '\r' || expected[i] == '\n') {
            expected.truncate(i);
            break;
        }
    bool found = false;
    const QByteArray back = IniFile(dir + "copy.ini").readString(section, "price dot", {}, &found);
    if (!found || back != expected)
        std::abort();
    return 0;
}
