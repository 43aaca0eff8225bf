#include "host/linecipher.h"

#include "host/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <sodium.h>

namespace host {

namespace {

constexpr char kPrefix[] = "WL1:";
constexpr char kDemoKey[] = "waylink-demo-deployment-key-2026";
constexpr auto kBase64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

void ensureSodium()
{
    static const bool ok = sodium_init() >= 0;
    if (!ok)
        throw UserError(QStringLiteral("加密库初始化失败 (libsodium)"));
}

QString keyFilePath()
{
    QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return QDir(dir).filePath(QStringLiteral("waylink.key"));
}

QString fileKeyText(QString *path)
{
    QFile f(keyFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString first = QString::fromUtf8(f.readLine()).trimmed();
    if (path)
        *path = f.fileName();
    return first;
}

} // namespace

LineCipher::LineCipher(const QString &keyText)
{
    ensureSodium();
    const QByteArray text = keyText.toUtf8();
    static const char context[] = "waylink line cipher v1";
    m_key.resize(crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
    crypto_generichash(reinterpret_cast<unsigned char *>(m_key.data()), size_t(m_key.size()),
                       reinterpret_cast<const unsigned char *>(text.constData()),
                       size_t(text.size()), reinterpret_cast<const unsigned char *>(context),
                       sizeof(context) - 1);
}

QString LineCipher::demoKeyText()
{
    return QString::fromLatin1(kDemoKey);
}

QString LineCipher::deploymentKeySource()
{
    if (!qEnvironmentVariableIsEmpty("WAYLINK_CIPHER_KEY"))
        return QStringLiteral("environment");
    QString path;
    if (!fileKeyText(&path).isEmpty())
        return path;
    return QStringLiteral("demo");
}

LineCipher LineCipher::deploymentCipher()
{
    const QString env = qEnvironmentVariable("WAYLINK_CIPHER_KEY");
    if (!env.isEmpty())
        return LineCipher(env);
    const QString file = fileKeyText(nullptr);
    if (!file.isEmpty())
        return LineCipher(file);
    return LineCipher(demoKeyText());
}

bool LineCipher::looksEncrypted(const QString &line)
{
    return line.startsWith(QLatin1String(kPrefix));
}

QString LineCipher::encrypt(const QString &plain) const
{
    const QByteArray msg = plain.toUtf8();
    QByteArray out(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES + msg.size() +
                       crypto_aead_xchacha20poly1305_ietf_ABYTES,
                   Qt::Uninitialized);
    auto *nonce = reinterpret_cast<unsigned char *>(out.data());
    randombytes_buf(nonce, crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
    unsigned long long clen = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        nonce + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES, &clen,
        reinterpret_cast<const unsigned char *>(msg.constData()), size_t(msg.size()),
        reinterpret_cast<const unsigned char *>(kPrefix), sizeof(kPrefix) - 1, nullptr, nonce,
        reinterpret_cast<const unsigned char *>(m_key.constData()));
    return QLatin1String(kPrefix) + QString::fromLatin1(out.toBase64(kBase64));
}

bool LineCipher::tryDecrypt(const QString &line, QString *plain) const
{
    try {
        const QString p = decrypt(line);
        if (plain)
            *plain = p;
        return true;
    } catch (const UserError &) {
        return false;
    }
}

QString LineCipher::decrypt(const QString &line) const
{
    const QString trimmed = line.trimmed();
    if (!looksEncrypted(trimmed))
        throw UserError(
            QStringLiteral("不是加密文本行（应以“%1”开头）").arg(QLatin1String(kPrefix)));
    const auto decoded =
        QByteArray::fromBase64Encoding(trimmed.mid(int(sizeof(kPrefix) - 1)).toLatin1(),
                                       kBase64 | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw UserError(QStringLiteral("加密文本行已损坏（含有非法字符）"));
    const QByteArray &raw = *decoded;
    constexpr int overhead =
        crypto_aead_xchacha20poly1305_ietf_NPUBBYTES + crypto_aead_xchacha20poly1305_ietf_ABYTES;
    if (raw.size() < overhead)
        throw UserError(QStringLiteral("加密文本行已损坏（长度不足）"));
    QByteArray msg(raw.size() - overhead, Qt::Uninitialized);
    unsigned long long mlen = 0;
    const auto *nonce = reinterpret_cast<const unsigned char *>(raw.constData());
    const int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(
        reinterpret_cast<unsigned char *>(msg.data()), &mlen, nullptr,
        nonce + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES,
        size_t(raw.size()) - crypto_aead_xchacha20poly1305_ietf_NPUBBYTES,
        reinterpret_cast<const unsigned char *>(kPrefix), sizeof(kPrefix) - 1, nonce,
        reinterpret_cast<const unsigned char *>(m_key.constData()));
    if (rc != 0)
        throw UserError(QStringLiteral("加密文本行无法解密：内容被改动，或由其他密钥加密"));
    msg.resize(qsizetype(mlen));
    return QString::fromUtf8(msg);
}

} // namespace host
