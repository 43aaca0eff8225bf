#pragma once

#include "baseforms/fdbbase.h"

#include <QDateTime>
#include <QStringList>

class QCheckBox;
class QGroupBox;
class QLineEdit;

namespace quillon {
class TMyDataSet;
}
namespace richedit {
class RichEditor;
}

namespace herald {

// The publishing window "公告发表": subject, rich-text body, recipient sites and
// employees, an optional attachment and the must-read flag. Publishing stores the body
// and the attachment on the server and writes the notice with one row per recipient site
// and per recipient employee (employees of chosen sites excepted). A publication either
// reaches the server whole or leaves nothing behind; the inputs stay for a retry.
class TfSendMessage : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfSendMessage(QWidget *parent = nullptr);
    ~TfSendMessage() override;

    QLineEdit *edtObject;
    QLineEdit *edtSites;
    QLineEdit *edtEmps;
    QLineEdit *edtFile;
    QAction *actChooseSites;
    QAction *actChooseEmps;
    QAction *actChooseFile;
    QCheckBox *ChkReadOnly;
    QGroupBox *gbContent;
    richedit::RichEditor *LMDRichEdit;
    quillon::TMyDataSet *cdsMSG;
    quillon::TMyDataSet *cdsSiteMSG;
    quillon::TMyDataSet *cdsEmpMSG;

    // Button handlers.
    void edtSitesButtonClick();
    void edtEmpsButtonClick();
    void edtFileButtonClick();
    // "发表": publishes the notice.
    void actSaveExecute();
    // "清除": clears the body only.
    void actCancelExecute();

    // Sites of the employees last chosen, parallel to the names in edtEmps.
    QStringList employeeSites() const { return m_empSites; }
    // The key and body file of the last publication attempt.
    QString lastNoticeKey() const { return m_lastKey; }
    QString lastBodyFile() const { return m_lastBodyFile; }

    // Subject, attachment or body typed and not yet published.
    bool hasDraft() const;
    // Before the window closes (its page, the program, a new log-on): a draft asks
    // publish / discard / stay; a publication that fails keeps the window.
    bool CloseQuery() override;

    // Local time "yyyyMMddhhmmss" followed by the number (0..999999) in decimal.
    static QString MakeNoticeKey(const QDateTime &now, quint32 number);
    // Body file name in `folder`: key + subject + ".rtf", with every character that file
    // names cannot hold in the subject replaced by "_".
    static QString BodyFileName(const QString &folder, const QString &key,
                                const QString &subject);

protected:
    void FormCreate() override;
    void InitPDM() override;
    void FormClose(bool &freeOnClose) override;
    void actCloseExecute() override;

private:
    // The site of each employee named in edtEmps; an empty list after a message when a
    // name cannot be placed.
    bool resolveEmployees(QList<QPair<QString, QString>> &out);
    void openEmpty(quillon::TMyDataSet *cds, const QString &sql);
    void discardPending();

    QStringList m_empNames;
    QStringList m_empSites;
    QString m_lastKey;
    QString m_lastBodyFile;
};

} // namespace herald
