#include "modules/tuner/logcaptions.h"

#include <QHash>
#include <QRegularExpression>

namespace tuner {

namespace {

struct Caption
{
    const char *name;
    const char16_t *caption;
};

struct TableCaptions
{
    const char *table;
    const char16_t *caption;
    std::initializer_list<Caption> columns;
};

// The titles of the finance windows' grids, the notice, parameter and administration
// windows' fields.
const TableCaptions kTables[] = {
    {"TAB_ACCOUNT", u"中心账单",
     {{"BILLCODE", u"运单编号"}, {"SEND_SITE", u"寄件站"}, {"STATIONCODE", u"操作网点"},
      {"PCS", u"件数"}, {"WEIGHT", u"重量"}, {"DEST", u"目的地"}, {"GOODSTYPE", u"物品类型"},
      {"PRODUCTTYPE", u"快件类型"}, {"SERVICETYPE", u"服务方式"}, {"SCANTYPE", u"扫描类型"},
      {"TRANSMODE", u"运输方式"}, {"PRIORSTATIONCODE", u"上一站"}, {"AR_TRANS_FEE", u"中转费"},
      {"AP_SEND_FEE", u"派件费"}, {"SCANMONEY", u"扫描费"}, {"OTHERCHARGE", u"其他费"},
      {"NEXTSTATIONCODE", u"下一站"}, {"FINANCECENTER", u"操作财务中心"},
      {"PRIORFINANCE", u"上一站财务中心"}, {"NEXTFINANCE", u"下一站财务中心"},
      {"SCANTIME", u"扫描时间"}, {"INPUTDATE", u"录单时间"}, {"SIGNED", u"签收标识"},
      {"SIGNPERSON", u"签收人"}, {"SIGNDATE", u"签收时间"}, {"SIGNSITE", u"签收网点"}}},
    {"TAB_DFKRECORD", u"到付款",
     {{"BILLCODE", u"运单编号"}, {"FIRSTSITE", u"寄件网点"}, {"FIRSTCENTER", u"寄件中心"},
      {"DEST", u"目的地"}, {"WEIGHT", u"重量"}, {"MONEY", u"到付款"},
      {"JZPAYCHARGE", u"寄站应付手续费"}, {"PZGETCHARGE", u"派站应收手续费"},
      {"SIGNSITE", u"签收网点"}, {"SIGNTIME", u"签收时间"}, {"SIGNCENTER", u"签收中心"},
      {"SIGNFLAG", u"签收标识"}, {"GOODSTYPE", u"物品类别"}, {"FASTTYPE", u"快件类型"},
      {"QUESTIME", u"问题登记时间"}, {"QUESSITE", u"问题登记网点"}, {"QUESEMP", u"问题件登记人"},
      {"QUESRESON", u"问题件原因"}, {"SENDCSITE", u"发件中心"}, {"SENDCTIME", u"发件中心时间"},
      {"ARRIVECSITE", u"到件中心"}, {"ARRIVECTIME", u"到件中心时间"}, {"CONSIGNEMP", u"取件员"},
      {"DELVEMP", u"派件员"}, {"CREATETIME", u"建立时间"}, {"REMARK", u"备注"}}},
    {"TAB_DFPFRECORD", u"派件费",
     {{"BILLCODE", u"运单编号"}, {"FIRSTSITE", u"寄件网点"}, {"FIRSTCENTER", u"寄件中心"},
      {"DEST", u"目的地"}, {"WEIGHT", u"重量"}, {"JZPAYMONEY", u"寄站应付派费"},
      {"PZGETMONEY", u"派站应收派费"}, {"GOODSTYPE", u"物品类别"}, {"FASTTYPE", u"快件类型"},
      {"ARRIVETIME", u"到件时间"}, {"ARRIVESITE", u"到件网点"}, {"SIGNTIME", u"签收时间"},
      {"SIGNSITE", u"签收网点"}, {"SIGNFLAG", u"签收标识"}, {"DELEVEMP", u"派件员"},
      {"SIGNCENTER", u"签收中心"}, {"PZGETFLAG", u"派站收款标识"}, {"JZPAYFLAG", u"寄站付款标识"},
      {"CREATETIME", u"建立时间"}}},
    {"TAB_PARAMETER", u"系统参数",
     {{"PARAMCODE", u"参数编号"}, {"PARAMNAME", u"参数名称"}, {"PARAMVALUE", u"参数值"},
      {"REMARK", u"说明"}, {"MODIFYEMP", u"修改人"}, {"MODIFYTIME", u"修改时间"}}},
    {"TAB_MSGRECORD", u"公告",
     {{"MSGID", u"公告编号"}, {"MSGOBJECT", u"主题"}, {"MSGCONTENT", u"内容"},
      {"MSGFILE", u"附件"}, {"MSGFILENAME", u"附件名"}, {"MSGTYPE", u"类型"},
      {"OPTIME", u"发表时间"}, {"OPSITE", u"发表网点"}, {"OPEMP", u"发表人"},
      {"CLOSEDATE", u"截止日期"}}},
    {"TAB_MSGSITE", u"公告接收网点", {}},
    {"TAB_MSGEMP", u"公告接收人", {}},
    {"TAB_MSGREAD", u"公告阅读记录", {}},
    {"SYS_TABLES", u"记录日志的表", {{"TABLENAME", u"表名"}}},
    {"sys_user", u"用户", {}},
    {"sys_role", u"角色", {}},
    {"sys_menu", u"菜单", {}},
    {"tab_Site", u"网点", {}},
    {"tab_Mdd", u"目的地",
     {{"MddCode", u"目的地编号"}, {"MddName", u"目的地名称"}, {"PROVINCE", u"省份"}}},
    {"sys_log", u"操作日志", {}},
};

const TableCaptions *find(const QString &table)
{
    for (const TableCaptions &t : kTables)
        if (table.compare(QLatin1String(t.table), Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

} // namespace

QString tableCaption(const QString &table)
{
    const TableCaptions *t = find(table.trimmed());
    return t ? QString::fromUtf16(t->caption) : QString();
}

QString columnCaption(const QString &table, const QString &column)
{
    const TableCaptions *t = find(table.trimmed());
    if (!t)
        return QString();
    for (const Caption &c : t->columns)
        if (column.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(c.caption);
    return QString();
}

QString contentWithCaptions(const QString &table, const QString &content)
{
    // A column name opens the text or follows "; " or "删除记录: ", and a colon follows it.
    static const QRegularExpression name(
        QStringLiteral("(^|; |删除记录: )([A-Za-z_][A-Za-z0-9_]*): "));
    QString out;
    qsizetype at = 0;
    auto it = name.globalMatch(content);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString caption = columnCaption(table, m.captured(2));
        out += content.mid(at, m.capturedStart(2) - at);
        out += caption.isEmpty() ? m.captured(2)
                                 : QStringLiteral("%1(%2)").arg(caption, m.captured(2));
        at = m.capturedEnd(2);
    }
    out += content.mid(at);
    return out;
}

QStringList loggedAlways()
{
    return {QStringLiteral("SYS_TABLES"), QStringLiteral("TAB_PARAMETER"),
            QStringLiteral("TAB_MSGRECORD"), QStringLiteral("sys_user"), QStringLiteral("sys_role"),
            QStringLiteral("tab_Site"), QStringLiteral("sys_menu"), QStringLiteral("sys_log")};
}

QString opTypeCaption(const QString &opType)
{
    static const QHash<QString, QString> captions = {
        {QStringLiteral("UPT"), QStringLiteral("修改")},
        {QStringLiteral("DEL"), QStringLiteral("删除")},
        {QStringLiteral("INS"), QStringLiteral("新增")},
        {QStringLiteral("SYS"), QStringLiteral("系统")},
    };
    return captions.value(opType.trimmed().toUpper(), opType);
}

} // namespace tuner
