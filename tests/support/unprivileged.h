#pragma once
// Permission cases: root ignores file permissions, so under root the current
// test runs again as "nobody" and does only its unprivileged part there.
#include <QCoreApplication>
#include <QProcess>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

inline constexpr const char* UnprivilegedMark = "VARLO_UNPRIVILEGED_DIR";

// The directory handed to the unprivileged run; empty in the test's own run.
inline QString UnprivilegedDir() { return qEnvironmentVariable(UnprivilegedMark); }

// Runs `part` on `dir` without privileges: here when not root, otherwise in a
// re-run of this test under setpriv, which must pass.
inline void RunUnprivileged(const QString& dir, const std::function<void(const QString&)>& part)
{
    if (::geteuid() != 0) {
        part(dir);
        return;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(UnprivilegedMark, dir);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", QCoreApplication::applicationFilePath(),
                        QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    ASSERT_TRUE(p.waitForStarted(10000)) << "setpriv is not available";
    ASSERT_TRUE(p.waitForFinished(60000));
    const QByteArray out = p.readAll();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << out.constData();
    EXPECT_EQ(p.exitCode(), 0) << out.constData();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.constData();
}
