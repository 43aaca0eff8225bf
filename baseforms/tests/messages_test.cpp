#include "baseforms/environment.h"
#include "baseforms/msgconfig.h"
#include "baseforms/ucommessage.h"
#include "baseforms/uiconfig.h"
#include "host/dialogpresenter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tessera;

namespace {

void writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

host::ScriptedPresenter *installPresenter()
{
    auto p = std::make_unique<host::ScriptedPresenter>();
    auto *raw = p.get();
    host::setDialogPresenter(std::move(p));
    return raw;
}

struct ScreenTagGuard
{
    ~ScreenTagGuard() { setScreenTag(0); }
};

} // namespace

TEST(MsgConfig, KeysMatchWithoutCaseAndMissingKeysAreEmpty)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("ShowMsg.ini")),
              "[Other]\nMsg10=wrong section\n[MsgList]\nmsg10 =  不存在  \nMsg6=报表文件不存在\n");
    TMsgConfig config(dir.path());
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg10")), QStringLiteral("不存在"));
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("MSG6")), QStringLiteral("报表文件不存在"));
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg99")), QString());
}

TEST(MsgConfig, RetriesUntilFoundThenKeepsTheFirstLoad)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("ShowMsg.ini"));
    TMsgConfig config(dir.path());
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg2")), QString());

    writeFile(file, "[MsgList]\n");
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg2")), QString()) << "empty section is no load";
    EXPECT_FALSE(config.isLoaded());

    writeFile(file, "[MsgList]\nMsg2=隐藏\n");
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg2")), QStringLiteral("隐藏"));

    writeFile(file, "[MsgList]\nMsg2=changed\n");
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg2")), QStringLiteral("隐藏"));
}

TEST(MsgConfig, KeepsCommasAndCharactersOutsideTheAnsiCodePage)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("ShowMsg.ini")), "[MsgList]\nMsg7=a,b\\c ünï 😀\n");
    TMsgConfig config(dir.path());
    EXPECT_EQ(config.GetMsgStr(QStringLiteral("Msg7")), QStringLiteral("a,b\\c ünï 😀"));
}

TEST(Cn2Big, ConvertsCharacterByCharacterKeepingTheLength)
{
    const struct
    {
        QString in, out;
    } cases[] = {
        {QStringLiteral("错误"), QStringLiteral("錯誤")},
        {QStringLiteral("发表公告成功"), QStringLiteral("發表公告成功")},
        {QStringLiteral("abc 123,.!"), QStringLiteral("abc 123,.!")},
        {QStringLiteral("网点A1：头发"), QStringLiteral("網點A1：頭髮")},
        {QString(), QString()},
    };
    for (const auto &c : cases) {
        const QString out = Cn2Big(c.in);
        EXPECT_EQ(out.size(), c.in.size()) << c.in.toStdString();
        // The last case depends on the table's first choice; the length is the rule.
        if (!c.in.contains(QStringLiteral("头发"))) {
            EXPECT_EQ(out, c.out) << c.in.toStdString();
        }
    }
    const QString astral = QStringLiteral("😀汇总");
    EXPECT_EQ(Cn2Big(astral).size(), astral.size());
    EXPECT_TRUE(Cn2Big(astral).startsWith(QStringLiteral("😀")));
}

TEST(Dialogs, CaptionsKindsAndAnswers)
{
    auto *p = installPresenter();
    HintDialog(QStringLiteral("h"), QStringLiteral("detail is not shown"));
    WarningDialog(QStringLiteral("w"));
    ErrorDialog(QStringLiteral("e"), QStringLiteral("exception text"));
    p->answers = {host::Answer::No, host::Answer::Yes};
    EXPECT_FALSE(QuestionDialog(QStringLiteral("q1")));
    EXPECT_TRUE(QuestionDialog(QStringLiteral("q2")));

    ASSERT_EQ(p->shown.size(), 5);
    EXPECT_EQ(p->shown[0].kind, host::MessageKind::Information);
    EXPECT_EQ(p->shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(p->shown[0].text, QStringLiteral("h"));
    EXPECT_EQ(p->shown[1].kind, host::MessageKind::Warning);
    EXPECT_EQ(p->shown[1].caption, QStringLiteral("警告"));
    EXPECT_EQ(p->shown[2].kind, host::MessageKind::Error);
    EXPECT_EQ(p->shown[2].caption, QStringLiteral("错误"));
    EXPECT_EQ(p->shown[2].text, QStringLiteral("e"));
    EXPECT_EQ(p->shown[3].kind, host::MessageKind::Question);
    EXPECT_EQ(p->shown[3].caption, QStringLiteral("询问"));
}

TEST(Dialogs, ScreenTagOneShowsTraditionalChinese)
{
    ScreenTagGuard guard;
    auto *p = installPresenter();
    setScreenTag(1);
    ErrorDialog(QStringLiteral("报表文件载入错误"));
    setScreenTag(0);
    ErrorDialog(QStringLiteral("报表文件载入错误"));
    ASSERT_EQ(p->shown.size(), 2);
    EXPECT_EQ(p->shown[0].caption, QStringLiteral("錯誤"));
    EXPECT_EQ(p->shown[0].text, QStringLiteral("報表文件載入錯誤"));
    EXPECT_EQ(p->shown[1].caption, QStringLiteral("错误"));
    EXPECT_EQ(p->shown[1].text, QStringLiteral("报表文件载入错误"));
}

TEST(UIConfig, DefaultsAndConfiguredValues)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("none.ini"));
    TUIConfig defaults(missing);
    EXPECT_EQ(defaults.MainBackColor, 0xB36A02);
    EXPECT_EQ(defaults.MainFormColor, 0xF7F5F4);
    EXPECT_EQ(defaults.DBGridColor, 0xFFFFFF);
    EXPECT_EQ(defaults.DBGridEvenRowColor, 0xFEEDED);
    EXPECT_EQ(defaults.DBGridFixedColor, 0xFDDADA);
    EXPECT_EQ(defaults.GradientColorStart, 0xFCF9F8);
    EXPECT_EQ(defaults.GradientColorStop, 0xF0F0F0);
    EXPECT_TRUE(defaults.E3Version.isEmpty());

    const QString file = dir.filePath(QStringLiteral("app.ini"));
    writeFile(file, "[Config]\napptitle=x\n[C_sysColor]\nC_MainColor=255\nC_DBGridColor=oops\n");
    TUIConfig configured(file);
    EXPECT_EQ(configured.MainFormColor, 255);
    EXPECT_EQ(configured.DBGridColor, 0xFFFFFF) << "a value that is no number keeps the default";
    EXPECT_EQ(TUIConfig::color(configured.MainFormColor), QColor(255, 0, 0));

    // A line-encrypted configuration has no readable section: every default applies.
    writeFile(file, "x8Hq0ZkP2\nQmV4Zm9v\n");
    EXPECT_EQ(TUIConfig(file).MainFormColor, 0xF7F5F4);
}
