#pragma once
#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

// `actual` against the golden file `name` under tests/golden/, byte for
// byte; a difference names its offset, line and column and both bytes.
// With VARLO_WRITE_GOLDEN=1 a missing golden file is written from `actual`
// (for a new format; a missing file fails otherwise).
::testing::AssertionResult MatchesGolden(const QString& name, const QByteArray& actual);

// The path of a golden file.
QString GoldenPath(const QString& name);
