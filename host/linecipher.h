#pragma once
// The line cipher behind EncryptStr/DecryptStr: XChaCha20-Poly1305 (libsodium) with a
// deployment key. Each plain line becomes one printable line
//   "WL1:" + base64url(24-byte random nonce + ciphertext + 16-byte tag)
// so encrypting the same line twice gives different lines; any change of an encrypted
// line, or a line made with another key, fails to decrypt.
//
// The deployment key comes, in this order, from
//   1. the environment variable WAYLINK_CIPHER_KEY (any text),
//   2. the file "waylink.key" beside the program (its first line),
//   3. the built-in demo key (documented in docs/host.md; for demonstrations only).
// The key text is hashed (BLAKE2b) to the 32-byte cipher key.
//
//   host::LineCipher c = host::LineCipher::deploymentCipher();
//   QString line = c.encrypt("SvrLst=demo");
//   QString back = c.decrypt(line);   // throws host::UserError when it cannot

#include <QByteArray>
#include <QString>

namespace host {

class LineCipher
{
public:
    // A cipher keyed with the hash of `keyText`.
    explicit LineCipher(const QString &keyText);

    static LineCipher deploymentCipher();
    // Where deploymentCipher() took its key from: "environment", a file path, or "demo".
    static QString deploymentKeySource();
    static QString demoKeyText();

    QString encrypt(const QString &plain) const;
    // Throws host::UserError with a readable reason when the line is not one of ours,
    // is damaged, or was made with another key.
    QString decrypt(const QString &line) const;
    // Like decrypt, but reports failure by returning false.
    bool tryDecrypt(const QString &line, QString *plain) const;

    static bool looksEncrypted(const QString &line);

private:
    QByteArray m_key;
};

} // namespace host
