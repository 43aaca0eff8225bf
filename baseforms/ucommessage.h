#pragma once

#include <QString>

namespace tessera {

// The four modal message boxes of the system. Each has its fixed caption ("提示", "警告",
// "错误", "询问") and goes through the host's dialog presenter. With the screen tag 1 the
// caption and the text are shown in Traditional Chinese. `detail` is accepted for the
// callers' convenience (they pass an exception's text); the error dialog folds it away
// as its 详细信息 part and logs it, the others drop it.
void HintDialog(const QString &msg, const QString &detail = {});
void WarningDialog(const QString &msg, const QString &detail = {});
void ErrorDialog(const QString &msg, const QString &detail = {});
// True only when the user answered Yes (the default button).
bool QuestionDialog(const QString &msg);

// Simplified to Traditional Chinese, character by character, so the result has exactly the
// length of the input in UTF-16 code units. Characters without a traditional form, digits,
// Latin letters and punctuation come out unchanged.
QString Cn2Big(const QString &text);

} // namespace tessera
