#include "host/errors.h"
#include "host/linecipher.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using host::LineCipher;

TEST(LineCipher, RoundTripGivesOnePrintableLineAndFreshNonces)
{
    const LineCipher c(QStringLiteral("site key"));
    const QStringList samples = {QStringLiteral("SvrLst=演示服务器;备用"), QString(),
                                 QStringLiteral("a=b\tc"), QString(2000, u'x')};
    for (const QString &s : samples) {
        const QString enc = c.encrypt(s);
        EXPECT_FALSE(enc.contains(u'\n'));
        EXPECT_FALSE(enc.contains(u'\r'));
        for (QChar ch : enc)
            EXPECT_TRUE(ch.unicode() > 32 && ch.unicode() < 127) << enc.toStdString();
        EXPECT_EQ(c.decrypt(enc), s);
        // Surrounding white space (a line read with its CR) does not matter.
        EXPECT_EQ(c.decrypt(enc + QStringLiteral("\r")), s);
    }
    EXPECT_NE(c.encrypt(QStringLiteral("same")), c.encrypt(QStringLiteral("same")));
}

TEST(LineCipher, RefusesTamperedForeignAndPlainLines)
{
    const LineCipher c(QStringLiteral("site key"));
    const LineCipher other(QStringLiteral("another key"));
    const QString enc = c.encrypt(QStringLiteral("LogOnPass=secret"));

    // Flip one character in every position past the prefix: each must be refused.
    for (int i = 4; i < enc.size(); i += 3) {
        QString bad = enc;
        bad[i] = bad[i] == u'A' ? u'B' : u'A';
        EXPECT_FALSE(c.tryDecrypt(bad, nullptr)) << "position " << i;
    }
    EXPECT_THROW(other.decrypt(enc), host::UserError);
    EXPECT_THROW(c.decrypt(QStringLiteral("[Config]")), host::UserError);
    EXPECT_THROW(c.decrypt(QStringLiteral("WL1:")), host::UserError);
    EXPECT_THROW(c.decrypt(QStringLiteral("WL1:!!!!")), host::UserError);
    EXPECT_THROW(c.decrypt(enc.left(enc.size() - 2)), host::UserError);
    try {
        other.decrypt(enc);
    } catch (const host::UserError &e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
}

TEST(LineCipher, DeploymentKeyFromEnvironmentOverridesDemoKey)
{
    const QString enc = LineCipher(LineCipher::demoKeyText()).encrypt(QStringLiteral("x=1"));
    qputenv("WAYLINK_CIPHER_KEY", "custom");
    EXPECT_EQ(LineCipher::deploymentKeySource(), QStringLiteral("environment"));
    EXPECT_THROW(LineCipher::deploymentCipher().decrypt(enc), host::UserError);
    qunsetenv("WAYLINK_CIPHER_KEY");
    if (LineCipher::deploymentKeySource() == QLatin1String("demo")) {
        EXPECT_EQ(LineCipher::deploymentCipher().decrypt(enc), QStringLiteral("x=1"));
    }
}

TEST(LineCipher, AdministratorToolRoundTripsAndReportsBadLines)
{
    QProcess enc;
    enc.start(QStringLiteral(WAYLINK_CIPHER_TOOL),
              {QStringLiteral("--key"), QStringLiteral("k1"), QStringLiteral("encrypt")});
    enc.write("[Config]\n\napptitle=网点系统\n");
    enc.closeWriteChannel();
    ASSERT_TRUE(enc.waitForFinished(10000));
    ASSERT_EQ(enc.exitCode(), 0);
    const QByteArray encrypted = enc.readAllStandardOutput();
    ASSERT_EQ(encrypted.count('\n'), 3);

    QProcess dec;
    dec.start(QStringLiteral(WAYLINK_CIPHER_TOOL),
              {QStringLiteral("--key"), QStringLiteral("k1"), QStringLiteral("decrypt")});
    dec.write(encrypted + "WL1:garbage\n");
    dec.closeWriteChannel();
    ASSERT_TRUE(dec.waitForFinished(10000));
    EXPECT_EQ(dec.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(dec.readAllStandardOutput()),
              QStringLiteral("[Config]\n\napptitle=网点系统\n"));
    EXPECT_TRUE(dec.readAllStandardError().contains("line 4"));
}
