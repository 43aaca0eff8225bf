#pragma once
// Shared set-up of the lookup and query/batch form tests: one message table for the whole
// process (the table is read once and kept), a scripted presenter per test, and a data
// module whose OpenCds serves made-up result sets instead of a server.

#include "baseforms/environment.h"
#include "baseforms/msgconfig.h"
#include "baseforms/uiconfig.h"
#include "testdata.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace lookuptest {

inline QTemporaryDir &appDir()
{
    static QTemporaryDir dir;
    static const bool written = [] {
        testdata::writeFile(dir.filePath(QStringLiteral("ShowMsg.ini")),
                            "[MsgList]\n"
                            "Msg10=不存在，请重新输入！\n"
                            "Msg15=确定要删除当前记录吗？\n"
                            "Msg16=确定要放弃所有未保存的修改吗？\n"
                            "Msg17=不能为空！\n"
                            "Msg22=没有设置查找数据集！\n"
                            "Msg23=查找数据集没有打开！\n"
                            "Msg24=没有设置查找字段！\n"
                            "Msg25=没有设置显示字段列表！\n"
                            "Msg26=全部列\n"
                            "Msg28=查找字段\n"
                            "Msg29=查找内容\n"
                            "Msg30=确定\n"
                            "Msg31=取消\n"
                            "Msg32=编号\n");
        return true;
    }();
    Q_UNUSED(written);
    return dir;
}

class Env : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tessera::setAppPath(appDir().path());
        tessera::setConfigFileName(appDir().filePath(QStringLiteral("waylink.ini")));
        tessera::reloadUIConfig();
        presenter = testdata::scriptedPresenter();
    }
    void TearDown() override
    {
        host::setDialogPresenter(nullptr);
        tessera::setAppPath(QString());
        tessera::setConfigFileName(QString());
        tessera::reloadUIConfig();
    }
    // Texts of the messages shown so far.
    QStringList shownTexts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }
    host::ScriptedPresenter *presenter = nullptr;
};

// Serves OpenCds from packets keyed by command text; records the statements it ran.
class LocalDM : public testdata::RecordingDM
{
public:
    void OpenCds(quillon::TMyDataSet *cds, const QString &sql) override
    {
        cds->Close();
        if (!sql.isEmpty())
            cds->SetCommandText(sql);
        opened << cds->CommandText();
        quillon::DataPacket p = packets.value(cds->CommandText());
        cds->SetData(std::move(p));
    }
    QHash<QString, quillon::DataPacket> packets;
    QStringList opened;
};

inline quillon::DataPacket packet(const QList<quillon::FieldDef> &fields,
                                  const QList<QVariantList> &rows)
{
    quillon::DataPacket p;
    p.fields = fields;
    p.rows = rows;
    return p;
}

// Shows a top-level widget and makes it the active window, so focus and keys work offscreen.
inline void showActive(QWidget *w)
{
    w->show();
    QApplication::setActiveWindow(w);
    w->activateWindow();
    QApplication::processEvents();
}

// Types text as key strokes, one character each (QTest::keyClicks takes ASCII only).
inline void typeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &release);
    }
}

} // namespace lookuptest
