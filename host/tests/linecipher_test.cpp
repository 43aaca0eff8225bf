#include "host/errors.h"
#include "host/linecipher.h"

#include <QFile>
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

TEST(LineCipher, KeysDifferingOnlyInNonAsciiCharactersAreDifferentKeys)
{
    const QStringList keys = {QStringLiteral("密钥一"), QStringLiteral("密钥二"), QStringLiteral("??"),
                              QStringLiteral("clé"), QStringLiteral("clè"), QStringLiteral("cl")};
    for (const QString &a : keys) {
        const QString line = LineCipher(a).encrypt(QStringLiteral("LogOnUser=001.zhang"));
        for (const QString &b : keys)
            EXPECT_EQ(LineCipher(b).tryDecrypt(line, nullptr), a == b) << a.toStdString() << " / " << b.toStdString();
    }
    // The key text reaches the cipher whole from the command line, a key file and the
    // environment.
    QTemporaryDir dir;
    QFile keyFile(dir.filePath(QStringLiteral("site.key")));
    ASSERT_TRUE(keyFile.open(QIODevice::WriteOnly));
    keyFile.write(QStringLiteral("密钥一\n").toUtf8());
    keyFile.close();
    const QList<QStringList> keyArgs = {{QStringLiteral("--key"), QStringLiteral("密钥一")},
                                        {QStringLiteral("--key-file"), keyFile.fileName()}};
    for (const QStringList &args : keyArgs) {
        QProcess enc;
        enc.start(QStringLiteral(WAYLINK_CIPHER_TOOL), args + QStringList{QStringLiteral("encrypt")});
        enc.write("x=1\n");
        enc.closeWriteChannel();
        ASSERT_TRUE(enc.waitForFinished(10000));
        const QString line = QString::fromUtf8(enc.readAllStandardOutput()).trimmed();
        EXPECT_EQ(LineCipher(QStringLiteral("密钥一")).decrypt(line), QStringLiteral("x=1")) << args.first().toStdString();
        EXPECT_FALSE(LineCipher(QStringLiteral("密钥二")).tryDecrypt(line, nullptr)) << args.first().toStdString();
    }
    const QString line = LineCipher(QStringLiteral("密钥一")).encrypt(QStringLiteral("x=1"));
    qputenv("WAYLINK_CIPHER_KEY", QStringLiteral("密钥二").toUtf8());
    EXPECT_FALSE(LineCipher::deploymentCipher().tryDecrypt(line, nullptr));
    qputenv("WAYLINK_CIPHER_KEY", QStringLiteral("密钥一").toUtf8());
    EXPECT_EQ(LineCipher::deploymentCipher().decrypt(line), QStringLiteral("x=1"));
    qunsetenv("WAYLINK_CIPHER_KEY");
}
