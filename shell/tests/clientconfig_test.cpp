#include "host/errors.h"
#include "host/linecipher.h"
#include "shell/clientconfig.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace shell;

namespace {

const host::LineCipher &cipher()
{
    static const host::LineCipher c(QStringLiteral("test key"));
    return c;
}

QString decryptLine(const QString &l)
{
    return cipher().decrypt(l);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QByteArray encLines(const QStringList &plain)
{
    QByteArray out;
    for (const QString &l : plain)
        out += cipher().encrypt(l).toUtf8() + "\r\n";
    return out;
}

} // namespace

TEST(ConfigFile, PlainFormKeepsEveryNonBlankLineEvenIfItLooksEncrypted)
{
    QTemporaryDir dir;
    const QString enc = cipher().encrypt(QStringLiteral("x=1"));
    const QString path =
        writeFile(dir, QStringLiteral("waylink.ini"),
                  "[Config]\r\napptitle=网点\r\n   \r\n\r\n" + enc.toUtf8() + "\r\nSysType=1\r\n");
    host::VarList vars;
    const LoadReport r = appendConfigFile(path, vars, decryptLine);
    EXPECT_TRUE(r.problems.isEmpty());
    EXPECT_EQ(vars.lines(),
              (QStringList{QStringLiteral("[Config]"), QStringLiteral("apptitle=网点"), enc,
                           QStringLiteral("SysType=1")}));
}

TEST(ConfigFile, EncryptedFormDecryptsEveryLineAndReportsTheBadOne)
{
    QTemporaryDir dir;
    QByteArray bytes = encLines({QStringLiteral("[Config]"), QStringLiteral("apptitle=网点")});
    bytes += "\r\nWL1:damaged\r\n";      // blank line 3, damaged line 4
    bytes += "C_MainColor=16250356\r\n"; // colour lines stay plain in this form
    bytes += "LogOnUser=plain text\r\n"; // any other plain line is refused
    bytes += encLines({QStringLiteral("SysType=2")});
    const QString path = writeFile(dir, QStringLiteral("waylink.ini"), bytes);

    host::VarList vars;
    const LoadReport r = appendConfigFile(path, vars, decryptLine);
    EXPECT_EQ(vars.lines(),
              (QStringList{QStringLiteral("[Config]"), QStringLiteral("apptitle=网点"),
                           QStringLiteral("C_MainColor=16250356"), QStringLiteral("SysType=2")}));
    ASSERT_EQ(r.problems.size(), 2);
    EXPECT_TRUE(r.problems[0].contains(QStringLiteral("waylink.ini")));
    EXPECT_TRUE(r.problems[0].contains(QStringLiteral("第 4 行")));
    EXPECT_TRUE(r.problems[1].contains(QStringLiteral("第 6 行")));
    EXPECT_EQ(r.linesRejected, 2);
}

TEST(ConfigFile, MissingFilesAreReportedByNameAndLoadNothing)
{
    QTemporaryDir dir;
    host::VarList vars;
    const LoadReport c =
        appendConfigFile(dir.filePath(QStringLiteral("absent.ini")), vars, decryptLine);
    const LoadReport m = appendMessageTable(dir.filePath(QStringLiteral("ShowMsg.ini")), vars);
    EXPECT_FALSE(c.fileFound);
    EXPECT_FALSE(m.fileFound);
    ASSERT_EQ(c.problems.size(), 1);
    EXPECT_TRUE(c.problems[0].contains(QStringLiteral("absent.ini")));
    EXPECT_TRUE(m.problems[0].contains(QStringLiteral("ShowMsg.ini")));
    // The offline cache is optional: its absence is no problem.
    EXPECT_TRUE(appendLocalData(dir.filePath(QStringLiteral("ClientData.xml")), vars, decryptLine)
                    .problems.isEmpty());
    EXPECT_TRUE(vars.isEmpty());
}

TEST(MessageTable, AppendsAllLinesAndReadsTheChineseCodePage)
{
    QTemporaryDir dir;
    const QString text = QStringLiteral("[MsgList]\r\nMsg33=确定要退出系统吗？\r\nmsg39=脱机\r\n");
    QStringEncoder gbk("GB18030");
    ASSERT_TRUE(gbk.isValid());
    const QString path = writeFile(dir, QStringLiteral("ShowMsg.ini"), gbk.encode(text));
    host::VarList vars;
    appendMessageTable(path, vars);
    EXPECT_EQ(vars.count(), 3);
    EXPECT_EQ(vars.line(0), QStringLiteral("[MsgList]"));
    EXPECT_EQ(vars.value(QStringLiteral("Msg33")), QStringLiteral("确定要退出系统吗？"));
    EXPECT_EQ(vars.value(QStringLiteral("Msg39")), QStringLiteral("脱机"));

    // UTF-8 with a byte-order mark reads the same.
    const QString utf = writeFile(dir, QStringLiteral("u.ini"), "\xEF\xBB\xBF" + text.toUtf8());
    host::VarList vars2;
    appendMessageTable(utf, vars2);
    EXPECT_EQ(vars2.lines(), vars.lines());
}

TEST(LocalData, ABadLineIsSkippedAndTheOthersAreRead)
{
    QTemporaryDir dir;
    QByteArray bytes = encLines({QStringLiteral("LogOnSiteCode=001")});
    bytes += "WL1:AAAAtampered\r\n";
    bytes += encLines({QStringLiteral("LogOnUser=001.wang")});
    const QString path = writeFile(dir, QStringLiteral("ClientData.xml"), bytes);
    host::VarList vars;
    const LoadReport r = appendLocalData(path, vars, decryptLine);
    EXPECT_EQ(vars.value(QStringLiteral("LogOnSiteCode")), QStringLiteral("001"));
    EXPECT_EQ(vars.value(QStringLiteral("LogOnUser")), QStringLiteral("001.wang"));
    EXPECT_EQ(r.linesRejected, 1);
    EXPECT_EQ(r.problems.size(), 1);
}

TEST(LocalData, CacheLinesComeInTheirFixedOrder)
{
    host::VarList vars;
    vars.setValue(QStringLiteral("LogOnFBType"), QStringLiteral("7"));
    vars.setValue(QStringLiteral("LogOnUser"), QStringLiteral("001.li"));
    const QStringList lines = localDataLines(vars);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], QStringLiteral("LogOnSiteCode="));
    EXPECT_EQ(lines[1], QStringLiteral("LogOnUser=001.li"));
    EXPECT_EQ(lines[6], QStringLiteral("LogOnFBType=7"));
}

TEST(StartupRules, SkinChoice)
{
    struct Case
    {
        const char *sysType, *backSkin, *expected;
    };
    const Case cases[] = {{"1", "3", "Skinkd3"}, {"4", "2", "Skincc2"}, {"2", "1", "Skinwl1"},
                          {"3", "", "Skinps"},   {"1", "", "Skinkd"},   {"5", "1", ""},
                          {"", "1", ""},         {"01", "1", ""}};
    for (const Case &c : cases) {
        EXPECT_EQ(skinName(QString::fromLatin1(c.sysType), QString::fromLatin1(c.backSkin)),
                  QString::fromLatin1(c.expected))
            << c.sysType << "/" << c.backSkin;
    }
}

TEST(StartupRules, WindowSizeIsLimitedToTheWorkAreaSideBySide)
{
    EXPECT_EQ(initialWindowSize(QRect(0, 0, 1920, 1040)), QSize(1170, 777));
    EXPECT_EQ(initialWindowSize(QRect(0, 0, 1024, 768)), QSize(1024, 768));
    EXPECT_EQ(initialWindowSize(QRect(0, 0, 1280, 720)), QSize(1170, 720));
    EXPECT_EQ(initialWindowSize(QRect(0, 0, 1100, 900)), QSize(1100, 777));
    // The 289-wide panel sits in the middle of the window, also at 1024 wide.
    EXPECT_EQ(logOnPanelLeft(1170), 441); // 440.5 rounds up
    EXPECT_EQ(logOnPanelLeft(1024), 368);
    EXPECT_EQ(logOnPanelLeft(200), 0);
}

TEST(StartupRules, ServerListSplit)
{
    struct Case
    {
        const char *text;
        QStringList expected;
    };
    const Case cases[] = {
        {"总部;分部", {QStringLiteral("总部"), QStringLiteral("分部")}},
        {"a b;c", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}},
        {"\"a b\";c", {QStringLiteral("a b"), QStringLiteral("c")}},
        {" a ; ;b;", {QStringLiteral("a"), QStringLiteral("b")}},
        {"\"say \"\"hi\"\"\"", {QStringLiteral("say \"hi\"")}},
        {"", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(splitServerList(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(StartupRules, NumbersFromTheConfiguration)
{
    struct Case
    {
        const char *text;
        int interval;
        int moduleWidth;
    };
    const Case cases[] = {{"", 60, 0},      {"abc", 60, 0}, {"0", 0, 0},   {"30", 30, 30},
                          {" 45 ", 45, 45}, {"-5", 60, -5}, {"1.5", 60, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(notifyIntervalSeconds(QString::fromLatin1(c.text)), c.interval) << c.text;
        EXPECT_EQ(moduleWidthValue(QString::fromLatin1(c.text)), c.moduleWidth) << c.text;
    }
}

TEST(StartupRules, CloseFlagAndNoticeClock)
{
    EXPECT_TRUE(closeBlockedByFlag(1, QStringLiteral("1")));
    EXPECT_FALSE(closeBlockedByFlag(0, QStringLiteral("1")));
    EXPECT_FALSE(closeBlockedByFlag(3, QStringLiteral("0")));
    EXPECT_FALSE(closeBlockedByFlag(3, QString()));

    EXPECT_FALSE(noticeCheckDue(0, 59999));
    EXPECT_TRUE(noticeCheckDue(0, 60000));
    EXPECT_FALSE(noticeCheckDue(100000, 150000));
    EXPECT_TRUE(noticeCheckDue(100000, 170000));
    // The 32-bit tick counter wraps after 49.7 days; the difference still counts.
    EXPECT_FALSE(noticeCheckDue(0xFFFFF000u, 0x00001000u));
    EXPECT_TRUE(noticeCheckDue(0xFFFFF000u, 0x00010000u));
}

TEST(Deployment, TheUserNameHintGivesAnExampleThatTheRuleAccepts)
{
    host::VarList msgs;
    appendMessageTable(QStringLiteral(WAYLINK_DEPLOY_DIR) + QStringLiteral("/ShowMsg.ini"), msgs);
    const QString hint = msgs.value(QStringLiteral("Msg57"));
    const QRegularExpression example(QStringLiteral("例如\\s*([0-9A-Za-z]+\\.[0-9A-Za-z_]+)"));
    const auto m = example.match(hint);
    ASSERT_TRUE(m.hasMatch()) << hint.toStdString();
    const QString user = m.captured(1);
    // The log-on's rule: three characters of the deployment key, a full stop, a name;
    // and the example is a user of the demo deployment "001".
    EXPECT_EQ(user.indexOf(u'.'), 3) << user.toStdString();
    EXPECT_TRUE(user.startsWith(QStringLiteral("001."))) << user.toStdString();
}

TEST(Deployment, EncryptedSampleMatchesThePlainOneAndTheMessageTableIsComplete)
{
    const QString deploy = QStringLiteral(WAYLINK_DEPLOY_DIR);
    host::VarList plain;
    const auto demo = host::LineCipher(host::LineCipher::demoKeyText());
    appendConfigFile(deploy + QStringLiteral("/waylink.plain.ini"), plain,
                     [&](const QString &l) { return demo.decrypt(l); });
    host::VarList decrypted;
    const LoadReport r = appendConfigFile(deploy + QStringLiteral("/waylink.ini"), decrypted,
                                          [&](const QString &l) { return demo.decrypt(l); });
    EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join(u'\n').toStdString();
    EXPECT_EQ(decrypted.lines(), plain.lines());
    EXPECT_EQ(plain.line(0), QStringLiteral("[Config]"));

    host::VarList msgs;
    appendMessageTable(deploy + QStringLiteral("/ShowMsg.ini"), msgs);
    for (int n : {2,  3,  4,  5,  6,  7,  10, 11, 12, 15, 16, 17, 22, 23, 24, 25,
                  26, 28, 29, 30, 31, 32, 33, 37, 39, 40, 41, 44, 45, 46, 54, 57}) {
        EXPECT_FALSE(msgs.value(QStringLiteral("Msg%1").arg(n)).isEmpty()) << "Msg" << n;
    }
}
