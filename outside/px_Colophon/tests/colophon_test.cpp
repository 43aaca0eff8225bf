// The about dialog speaks Chinese: the build moment is a date, not the compiler's English
// month name.
#include "colophon.h"
#include "host/uintf.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

TEST(Colophon, BuildMomentIsADateWithoutEnglish)
{
    EXPECT_EQ(colophon::buildStamp("Dec  8 2026", "20:09:11"), QStringLiteral("2026-12-08 20:09:11"));
    EXPECT_EQ(colophon::buildStamp("Jan 31 2027", "07:00:00"), QStringLiteral("2027-01-31 07:00:00"));
    QString built;
    for (const auto &line : colophon::programLines())
        if (line.first == QStringLiteral("编译"))
            built = line.second;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"))
                    .match(built)
                    .hasMatch())
        << qPrintable(built);
}
