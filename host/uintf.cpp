#include "host/uintf.h"

#include "host/dialogpresenter.h"
#include "host/linecipher.h"
#include "host/moduleservice.h"
#include "host/paths.h"

#include <QDir>
#include <memory>

namespace host {

IUIBase::~IUIBase() = default;
IUINetIntf::~IUINetIntf() = default;
IFuncObj::~IFuncObj() = default;
IDBCommObj::~IDBCommObj() = default;

namespace {

VarList &varsInstance()
{
    static VarList vars;
    return vars;
}

class FuncObj : public IFuncObj
{
public:
    void MsgBox(const QString &text, int) override
    {
        dialogPresenter().showMessage(MessageKind::Information, QStringLiteral("提示"), text);
    }

    bool MsgQuestion(const QString &text) override
    {
        return dialogPresenter().showMessage(MessageKind::Question, QStringLiteral("询问"), text) ==
               Answer::Yes;
    }

    QString EncryptStr(const QString &plain, int) override { return cipher().encrypt(plain); }
    QString DecryptStr(const QString &encrypted, int) override
    {
        return cipher().decrypt(encrypted);
    }

    void GetFileList(const QString &directory, QStringList &list, const QString &mask, int) override
    {
        QDir dir(normalizePath(directory));
        if (!dir.exists())
            return;
        const QStringList masks = mask.isEmpty() ? QStringList{QStringLiteral("*")}
                                                 : mask.split(u';', Qt::SkipEmptyParts);
        const QFileInfoList files = dir.entryInfoList(masks, QDir::Files, QDir::Name);
        for (const QFileInfo &fi : files)
            list.append(fi.absoluteFilePath());
    }

    QDateTime GetServerDateTime() override
    {
        return serverClock ? serverClock() : QDateTime::currentDateTime();
    }
    QString GetServerTime() override
    {
        return GetServerDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }

    const LineCipher &cipher()
    {
        // The key is read once, on first use, after the program knows its folder.
        if (!m_cipher)
            m_cipher = std::make_unique<LineCipher>(LineCipher::deploymentCipher());
        return *m_cipher;
    }

    std::function<QDateTime()> serverClock;

private:
    std::unique_ptr<LineCipher> m_cipher;
};

class DBCommObj : public IDBCommObj
{
public:
    QObject *GetConnection() override { return connection.data(); }
    QPointer<QObject> connection;
};

FuncObj &funcObj()
{
    static FuncObj obj;
    return obj;
}

DBCommObj &dbObj()
{
    static DBCommObj obj;
    return obj;
}

} // namespace

VarList *const g_lstVars = &varsInstance();
QPointer<QTabWidget> ParentCtrl;
IFuncObj *g_FuncObj = nullptr;
IDBCommObj *g_DBConn = nullptr;
IUINetIntf *const g_UINetIntf = &ModuleService::instance();
IUIBase *g_UIIntf = nullptr;

IFuncObj *CFuncObj()
{
    return &funcObj();
}

IDBCommObj *CdbCommObj()
{
    return &dbObj();
}

void setConnection(QObject *connection)
{
    dbObj().connection = connection;
}

void setServerClock(std::function<QDateTime()> clock)
{
    funcObj().serverClock = std::move(clock);
}

} // namespace host
