#include "host/varlist.h"

#include <QTimer>
#include <gtest/gtest.h>

using host::VarList;

TEST(VarList, NamesIgnoreCaseAndFirstLineWins)
{
    VarList v;
    v.append(QStringLiteral("[MsgList]"));
    v.append(QStringLiteral("iExePath=/opt/waylink/"));
    v.append(QStringLiteral("IEXEPATH=/other/"));
    EXPECT_EQ(v.value(QStringLiteral("iExepath")), QStringLiteral("/opt/waylink/"));
    EXPECT_EQ(v.indexOfName(QStringLiteral("iexepath")), 1);
    // A section header or a plain line has no name.
    EXPECT_EQ(v.indexOfName(QStringLiteral("[MsgList]")), -1);
    EXPECT_EQ(v.value(QStringLiteral("missing")), QString());
    // A prefix of a name is not the name.
    EXPECT_EQ(v.indexOfName(QStringLiteral("iExe")), -1);
}

TEST(VarList, ValuesKeepEverythingAfterTheFirstEquals)
{
    VarList v;
    v.append(QStringLiteral("ReturnData=a=b;c"));
    v.append(QStringLiteral("Empty="));
    EXPECT_EQ(v.value(QStringLiteral("ReturnData")), QStringLiteral("a=b;c"));
    EXPECT_TRUE(v.hasName(QStringLiteral("Empty")));
    EXPECT_EQ(v.nameAt(0), QStringLiteral("ReturnData"));
}

TEST(VarList, SetValueReplacesInPlaceOrAppends)
{
    VarList v;
    v.append(QStringLiteral("SysID=001"));
    v.append(QStringLiteral("other=x"));
    v.setValue(QStringLiteral("sysid"), QStringLiteral("002"));
    EXPECT_EQ(v.count(), 2);
    EXPECT_EQ(v.line(0), QStringLiteral("SysID=002"));
    v.setValue(QStringLiteral("NewMsg"), QStringLiteral("1"));
    EXPECT_EQ(v.line(2), QStringLiteral("NewMsg=1"));
    // An empty value keeps the line so the name stays known.
    v.setValue(QStringLiteral("NewMsg"), QString());
    EXPECT_EQ(v.count(), 3);
    EXPECT_TRUE(v.hasName(QStringLiteral("newmsg")));
}

TEST(VarList, RemoveTakesNamedLineThenWholeLine)
{
    VarList v;
    v.append(QStringLiteral("cdsSite"));
    v.append(QStringLiteral("Param=1"));
    EXPECT_TRUE(v.remove(QStringLiteral("PARAM")));
    EXPECT_TRUE(v.remove(QStringLiteral("cdssite")));
    EXPECT_FALSE(v.remove(QStringLiteral("cdsSite")));
    EXPECT_TRUE(v.isEmpty());
}

TEST(VarList, AttachedObjectsFoundByWholeLineAndOutliveNothing)
{
    VarList v;
    auto *ds = new QObject;
    ds->setObjectName(QStringLiteral("cdsSite"));
    v.append(QStringLiteral("cdsSiteSub=not this one"));
    const int i = v.attachTo(QStringLiteral("cdsSite"), ds);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(v.object(QStringLiteral("CDSSITE")), ds);
    EXPECT_EQ(v.object(QStringLiteral("cdsSiteSub")), nullptr);
    // Attaching again to an existing line reuses it.
    auto *ds2 = new QObject;
    EXPECT_EQ(v.attachTo(QStringLiteral("cdsSite"), ds2), 1);
    EXPECT_EQ(v.objectAs<QObject>(QStringLiteral("cdsSite")), ds2);
    // The list does not own its objects, and a deleted object reads back as null.
    delete ds2;
    EXPECT_EQ(v.object(QStringLiteral("cdsSite")), nullptr);
    delete ds;
}
