// Reading the protocol's CBOR maps as a peer may send them: whole numbers that arrive as
// doubles of any size.
#include "dataaccess/protocol/protocol.h"

#include <QCborMap>
#include <gtest/gtest.h>
#include <limits>

using namespace quillon::protocol;

TEST(ProtocolNumbers, WholeNumbersSentAsDoublesOfAnySizeAreReadSafely)
{
    EXPECT_EQ(integerOf(QCborValue(42)), 42);
    EXPECT_EQ(integerOf(QCborValue(std::numeric_limits<qint64>::min())), std::numeric_limits<qint64>::min());
    EXPECT_EQ(integerOf(QCborValue(1.0)), 1);
    EXPECT_EQ(integerOf(QCborValue(-2.9)), -2);
    // Out of range, not a number at all, or no number: the fallback, never a wrapped value.
    for (double d : {1.72396e29, -1e300, 9223372036854775808.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(integerOf(QCborValue(d), 7), 7) << d;
    EXPECT_EQ(integerOf(QCborValue(QStringLiteral("1")), 7), 7);
    EXPECT_EQ(integerOf(QCborValue(), 7), 7);

    // A log-on map whose DBSid is a huge double (found by fuzzing) reads as the default 1.
    QCborMap m;
    m.insert(QStringLiteral("DBSid"), 1.72396e29);
    m.insert(QStringLiteral("User_Name"), QStringLiteral("001.wang"));
    const SessionRequest r = SessionRequest::fromCbor(m);
    EXPECT_EQ(r.dbSid, 1);
    EXPECT_EQ(r.userName, QStringLiteral("001.wang"));
    m.insert(QStringLiteral("DBSid"), 5e9); // a whole number, but not an int
    EXPECT_EQ(SessionRequest::fromCbor(m).dbSid, 1);
}
