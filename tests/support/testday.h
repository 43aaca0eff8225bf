#pragma once
// The day of a test that puts rows on today's date and then asks a window or the database
// about "today". Taken once, before any window opens; in the last two minutes before
// midnight it first waits for the new day, so that the windows, the database's sysdate and
// the test agree on the day however long the test runs.
#include <QDateTime>
#include <QThread>

namespace testsupport {

inline QDateTime settledNow()
{
    QDateTime now = QDateTime::currentDateTime();
    const qint64 left = now.secsTo(QDateTime(now.date().addDays(1), QTime(0, 0)));
    if (left <= 120) {
        QThread::sleep(static_cast<unsigned long>(left + 1));
        now = QDateTime::currentDateTime();
    }
    return now;
}

} // namespace testsupport
