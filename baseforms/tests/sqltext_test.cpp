#include "baseforms/mysqlmanagex.h"
#include "baseforms/sqltext.h"
#include "host/errors.h"

#include <gtest/gtest.h>

using namespace tessera;

TEST(SqlText, DelSqlCommentsKeepsCodeLinesEachFollowedByABlank)
{
    const struct
    {
        QString in, out;
    } cases[] = {
        {QStringLiteral("select a\n   -- comment\nfrom t"), QStringLiteral("select a from t ")},
        {QStringLiteral("select a\r\n\r\n  \r\nfrom t -- trailing stays\r\n"),
         QStringLiteral("select a from t -- trailing stays ")},
        {QStringLiteral("  select 1"), QStringLiteral("  select 1 ")},
        {QStringLiteral("--only\n--comments"), QString()},
        {QString(), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DelSqlComments(c.in), c.out) << c.in.toStdString();
}

TEST(SqlText, FormatSqlReplacesWithoutRegardToCase)
{
    EXPECT_EQ(FormatSql(QStringLiteral("a=:X and b=:x and c=:y"), QStringLiteral(":x"),
                        QStringLiteral("'1'")),
              QStringLiteral("a='1' and b='1' and c=:y"));
    EXPECT_EQ(FormatSql(QStringLiteral("abc"), QString(), QStringLiteral("z")),
              QStringLiteral("abc"));
}

TEST(SqlText, GetBillCodeListQuotesInReverseOrder)
{
    EXPECT_EQ(GetBillCodeList({QStringLiteral("A1"), QStringLiteral("B2")}),
              QStringLiteral("'B2','A1'"));
    EXPECT_EQ(GetBillCodeList({}), QStringLiteral("'*'"));
    EXPECT_EQ(GetBillCodeList({QStringLiteral("O'Neil"), QString()}),
              QStringLiteral("'','O''Neil'"));
}

TEST(SqlText, RemoveParamFromVarRemovesOnlyThatName)
{
    QStringList list{QStringLiteral("Grid=1"), QStringLiteral("Title=x=y"),
                     QStringLiteral("title2=z")};
    RemoveParamFromVar(list, QStringLiteral("TITLE"));
    EXPECT_EQ(list, (QStringList{QStringLiteral("Grid=1"), QStringLiteral("title2=z")}));
    RemoveParamFromVar(list, QStringLiteral("missing"));
    EXPECT_EQ(list.size(), 2);
}

TEST(MySqlManageX, GetSqlDropsCommentLinesButNotEmptyOnes)
{
    TMySqlManageX m;
    m.SetSqlText1(QStringLiteral("select *\n -- note\nfrom t"));
    EXPECT_EQ(m.GetSql(1), QStringLiteral("select * from t "));
    m.SetSqlText3(QStringLiteral("a\n\nb"));
    EXPECT_EQ(m.GetSql(3), QStringLiteral("a  b "));
}

TEST(MySqlManageX, GetSqlErrors)
{
    TMySqlManageX m;
    auto messageOf = [&](int index) {
        try {
            m.GetSql(index);
        } catch (const host::UserError &e) {
            return e.message();
        }
        return QStringLiteral("no error");
    };
    EXPECT_EQ(messageOf(0), QStringLiteral("SQL索引[0]超出范围,最值为1-5!"));
    EXPECT_EQ(messageOf(6), QStringLiteral("SQL索引[6]超出范围,最值为1-5!"));
    EXPECT_EQ(messageOf(2), QStringLiteral("SQL索引[2]未定义!"));
}
