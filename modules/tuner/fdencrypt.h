#pragma once
// "加密OR解密": the administrator's tool that encrypts or decrypts text lines with the
// host's line cipher, the same one that protects the configuration file and the offline
// log-on cache. One output line per non-blank input line; blank lines are skipped. An
// error stops the run at that line; the lines converted before it stay in the output.
//
// Shown modally by px_Tuner.fDEncrypt; the data module keeps the one dialog for the life
// of the program, so reopening it shows the texts of the last use.

#include "baseforms/fbase.h"

class QPlainTextEdit;
class QPushButton;

namespace tuner {

class TModalFrame;

class TfDEncrypt : public tessera::TfBase
{
    Q_OBJECT
public:
    explicit TfDEncrypt(QWidget *parent = nullptr);
    ~TfDEncrypt() override;

    QPlainTextEdit *mmoSource;
    QPlainTextEdit *mmoResult;
    QPushButton *btnEncrypt;
    QPushButton *btnDecrypt;

    void btnEncryptClick();
    void btnDecryptClick();

    TModalFrame *frame() const;
    int ShowModal();

protected:
    void FormClose(bool &freeOnClose) override;

private:
    void run(bool encrypt);
};

} // namespace tuner
