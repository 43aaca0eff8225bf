#pragma once
// Salted password verifiers (argon2id, libsodium's string form "$argon2id$v=19$m=...").
// The offline log-on cache keeps one instead of the password: copying the cache file and
// decrypting its lines gives nothing that logs on anywhere.
//
//   QString v = host::passwordVerifier("123456");
//   host::matchesPasswordVerifier(v, "123456");   // true

#include <QString>

namespace host {

// A fresh verifier of the password (a new random salt each time). Throws host::UserError
// when the memory for the hash cannot be had.
QString passwordVerifier(const QString &password);
// Whether `verifier` is a verifier of `password`; false for anything that is not one.
bool matchesPasswordVerifier(const QString &verifier, const QString &password);
// Whether the text has the form of a verifier (older caches hold the password itself).
bool isPasswordVerifier(const QString &text);

} // namespace host
