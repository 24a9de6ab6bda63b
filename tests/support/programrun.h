#pragma once
// Programs run as a shop's script runs them, to their end: varlo-manager,
// the installed program, a shell.
#include "testdirs.h"
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <string>

inline std::string S(const QByteArray& b) { return b.toStdString(); }
inline std::string S(const QString& s) { return s.toStdString(); }

inline QString ManagerPath() { return BuildDir() + "/app/varlo-manager"; }

// A script's environment with a point as decimal separator, and no
// inherited program directory or code page.
inline QProcessEnvironment ScriptEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("VARLO_HOME");
    env.remove("VARLO_CODEPAGE");
    env.insert("LC_ALL", "C.UTF-8");
    return env;
}

inline void WriteFile(const QString& path, const QByteArray& bytes)
{
    ASSERT_TRUE(ReplaceFile(path, bytes)) << S(path);
}

struct Result {
    int status = -1;   // exit status; -1 when it crashed or had to be killed
    QByteArray out, err;
};

// Runs `program` with `args` in `env`, from the directory `workDir` when
// one is given.
inline Result RunProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                         const QString& workDir = {}, int limitMs = 60000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    Result r;
    if (!p.waitForStarted(10000)) {
        r.err = "cannot start " + program.toLocal8Bit();
        return r;
    }
    p.closeWriteChannel();
    const bool ended = p.waitForFinished(limitMs);
    if (!ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.status = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (!ended)
        r.err += "\n[killed: still running after the time limit]";
    return r;
}

// Runs varlo-manager with `args` and --home `home`, from `home`.
inline Result RunManager(QStringList args, const QString& home, int limitMs = 60000)
{
    return RunProgram(ManagerPath(), args << "--home" << home, ScriptEnvironment(), home, limitMs);
}
