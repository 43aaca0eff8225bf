#pragma once
// The data module of px_Herald: maps the notice functions to windows and keeps the
// attachment and body files of notices on the application server.
//
// Server files of notices live under "notice\<yyyymmdd>\<yyyymmddhhnnss>_<GUID><ext>";
// local copies are kept in "tmpfile/" beside the executable and never go stale, because
// every server name is unique.

#include "modules/framework/dmu.h"

#include <QPointer>
#include <functional>

namespace quillon {
class TMyDataSet;
}
namespace richedit {
class RichEditor;
}

namespace herald {

class TForm1;

class TDM_Func : public framework::Tdm
{
    Q_OBJECT
public:
    explicit TDM_Func(QObject *owner = nullptr);
    ~TDM_Func() override;

    // Spare dataset and the list of unread notices (loaded by fNoReadMessage).
    quillon::TMyDataSet *cdsPub;
    quillon::TMyDataSet *cdsMSGData;

    // Function names (compared without regard to the case of A-Z): Form1, fSendMessage,
    // fQueryMessage, fManagerMessage, fReadQMessage, fNoReadMessage. Unknown names are
    // ignored.
    void new_execute(const QString &callfunc, const QString &funcdesc, const QString &controls,
                     const QStringList &params, int HelpIndex) override;

    // "notice\20261207\20261207093015_{GUID}.rtf": type, date, time stamp, a new GUID and
    // the extension of the local file (nothing when it has none).
    static QString GenerateServerFileName(const QString &AType, const QString &ALocalFileName);
    // Stores a local file under a new server name and returns that name. A missing file
    // is told to the user ("文件[...]不存在.") and ends in host::SilentAbort.
    QString UploadFile(const QString &ALocalFile);
    // The local copy of a server file ("tmpfile/<name>"), fetched only when it is not there
    // yet. The path is returned also when the server had no such file.
    QString DownLoadFile(const QString &AServerFile);
    // The local copy of an attachment under its original name: "tmpfile/<server name
    // without extension>/<original name>", so that two attachments of the same name never
    // meet. Without an original name it is DownLoadFile's copy.
    QString DownLoadFileAs(const QString &AServerFile, const QString &AOriginalName);
    // Fetches a server file and opens it with the desktop's program for its type, under
    // its original name when one is given. An empty name does nothing. A file that the
    // server does not have, or that the desktop cannot open, is told to the user with the
    // local path (host::UserError).
    void BrowerFile(const QString &AServerFile, const QString &AOriginalName = {});

    // The name of an attachment as users see it: the original name, else the name part of
    // the server path.
    static QString AttachmentName(const QString &serverPath, const QString &originalName);

    // Where a stored MSGCONTENT keeps the body:
    // - Text: the body itself (notices written by other programs) - it does not end in
    //   "rtf" (a final line break ignored);
    // - ServerFile: a body file of the publishing window, a server path under "notice\";
    // - OlderFile: anything else ending in "rtf" (the publisher's local path, such as
    //   "C:\...\x.rtf"): the body is the older layout's "MSGData\<MSGID>.<ext>".
    // A local path never begins with "notice\", so the two file layouts cannot be
    // confused.
    enum class BodyKind { None, Text, ServerFile, OlderFile };
    static BodyKind bodyKind(const QString &content);
    // Whether MSGCONTENT names a body file of either layout.
    static bool IsBodyFile(const QString &content);
    // The local copy of a notice's body file (either layout; fetched when missing); empty
    // for a body held as text. Older-layout copies are kept in "OutPut/".
    QString BodyLocalFile(const QString &content, const QString &msgId);
    // Shows a notice's body in `editor`: a body text as it is, a body file of either layout
    // fetched and loaded. A body file that cannot be had leaves the editor empty and is
    // told to the user with the local path (host::UserError).
    void ShowBody(const QString &content, const QString &msgId, richedit::RichEditor *editor);
    // Opens the attachment (under its original name), else a body file, with the desktop's
    // program. A body held as text has no file: nothing is opened.
    void OpenNoticeFile(const QString &attachment, const QString &attachmentName,
                        const QString &content, const QString &msgId);

    // The text of the unread-notice query for the signed-on user (shared variables
    // LogOnSiteName, LogOnEmpName and sysid). One row per notice: a notice addressed both
    // to the user's site and to him personally comes once, as the site's.
    static QString UnreadNoticeSql();
    // Writes the user's read receipt of a notice through `cds` unless one exists.
    // Returns whether a receipt was written.
    bool WriteReadReceipt(quillon::TMyDataSet *cds, const QString &msgId);

    // How a local file is opened; false when it could not be. Tests replace it. The
    // default asks the desktop.
    std::function<bool(const QString &localFile)> openLocalFile;

    // Stand-alone editor windows opened by "Form1" (the last one made).
    QPointer<TForm1> Form1;

    // Local folder of fetched server files, with a trailing "/".
    static QString localFileFolder();


    // The condition that keeps a notice's employee row out of a list when the notice is
    // also addressed to that employee's site (alias a: TAB_MSGEMP): one entry per notice.
    static QString NotAlsoToTheSiteSql();

private:
    // Opens a local copy; tells the user (with the local path) when it is missing or the
    // desktop cannot open it.
    void openLocal(const QString &local, const QString &serverFile);
};

// The module's one data module (made on first use, never freed).
TDM_Func *DM_Func();

} // namespace herald
