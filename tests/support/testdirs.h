#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// The bytes of a file; empty when it cannot be read.
QByteArray ReadFile(const QString& path);
// Replaces the file's bytes; false when it cannot.
bool ReplaceFile(const QString& path, const QByteArray& bytes);

// A fresh program directory for one test: ExeDir() points into it while the
// object lives, and it is removed afterwards.
class ScopedHome {
public:
    ScopedHome();
    ~ScopedHome();
    QString path() const { return Dir->path() + "/"; }
    QString file(const QString& name) const { return path() + name; }
    QByteArray read(const QString& name) const { return ReadFile(file(name)); }
    void write(const QString& name, const QByteArray& bytes) const { ReplaceFile(file(name), bytes); }
private:
    std::unique_ptr<QTemporaryDir> Dir;
    QString Previous;
};

// Where the build put its programs (for tests that start varlo-manager or
// varlo-scale-sim). From VARLO_BUILD_DIR, which CTest sets.
QString BuildDir();
