#pragma once
// What the fuzz targets share: a stop that libFuzzer reports as a crash
// with the input that caused it, and scratch files on tmpfs when there is
// one (the atomic saves sync, which a disk makes slow).
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A property of the reader that must hold whatever the input.
inline void Require(bool holds)
{
    if (!holds)
        std::abort();
}

inline QByteArray Bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A file of the run's scratch directory, which goes at exit.
inline QString ScratchFile(const QString& name)
{
    static const QString base = QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir dir(base + "/varlo-fuzz-XXXXXX");
    Require(dir.isValid());
    return dir.filePath(name);
}

inline void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    Require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
}

inline QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
