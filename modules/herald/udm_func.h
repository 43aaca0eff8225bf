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
    // Fetches a server file and opens it with the desktop's program for its type. An empty
    // name does nothing.
    void BrowerFile(const QString &AServerFile);

    // Whether a stored MSGCONTENT names a body file (it ends in "rtf", a final line break
    // ignored) rather than holding the body text itself, as notices written by other
    // programs do.
    static bool IsBodyFile(const QString &content);
    // Shows a notice's body in `editor`: a body file is fetched and loaded (nothing shows
    // when the server has none), a body text is shown as it is.
    void ShowBody(const QString &content, richedit::RichEditor *editor);
    // Opens the attachment, else a body file, with the desktop's program. A body held as
    // text has no file: nothing is opened.
    void OpenNoticeFile(const QString &attachment, const QString &content);

    // The text of the unread-notice query for the signed-on user (shared variables
    // LogOnSiteName, LogOnEmpName and sysid).
    static QString UnreadNoticeSql();
    // Writes the user's read receipt of a notice through `cds` unless one exists.
    // Returns whether a receipt was written.
    bool WriteReadReceipt(quillon::TMyDataSet *cds, const QString &msgId);

    // How a local file is opened; tests replace it. The default asks the desktop.
    std::function<void(const QString &localFile)> openLocalFile;

    // Stand-alone editor windows opened by "Form1" (the last one made).
    QPointer<TForm1> Form1;

    // Local folder of fetched server files, with a trailing "/".
    static QString localFileFolder();

    static bool sameFunctionName(const QString &a, const QString &b);
};

// The module's one data module (made on first use, never freed).
TDM_Func *DM_Func();

} // namespace herald
