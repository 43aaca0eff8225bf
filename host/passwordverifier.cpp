#include "host/passwordverifier.h"

#include "host/errors.h"

#include <sodium.h>

namespace host {

namespace {
constexpr char kPrefix[] = "$argon2id$";
}

QString passwordVerifier(const QString &password)
{
    if (sodium_init() < 0)
        throw UserError(QStringLiteral("加密库初始化失败 (libsodium)"));
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, pw.constData(), quint64(pw.size()),
                              crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw UserError(QStringLiteral("内存不足，无法保存脱机登录信息"));
    return QString::fromLatin1(out);
}

bool isPasswordVerifier(const QString &text)
{
    return text.startsWith(QLatin1String(kPrefix));
}

bool matchesPasswordVerifier(const QString &verifier, const QString &password)
{
    if (!isPasswordVerifier(verifier) || sodium_init() < 0)
        return false;
    const QByteArray v = verifier.toLatin1();
    const QByteArray pw = password.toUtf8();
    return crypto_pwhash_str_verify(v.constData(), pw.constData(), quint64(pw.size())) == 0;
}

} // namespace host
