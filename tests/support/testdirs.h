#pragma once
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A fresh program directory for one test: ExeDir() points into it while the
// object lives, and it is removed afterwards.
class ScopedHome {
public:
    ScopedHome();
    ~ScopedHome();
    QString path() const;                 // ends in '/'
    QString file(const QString& name) const { return path() + name; }
    QByteArray read(const QString& name) const;
    void write(const QString& name, const QByteArray& bytes) const;
private:
    std::unique_ptr<QTemporaryDir> Dir;
    QString Previous;
};

// Where the build put its programs (for tests that start varlo-manager or
// varlo-scale-sim). From VARLO_BUILD_DIR, which CTest sets.
QString BuildDir();
