#include "modules/framework/funcs.h"

#include "dataaccess/mydataset.h"
#include "host/uintf.h"

#include <QComboBox>

namespace framework {

quillon::TMyDataSet *GetCdsByLine(const QString &name)
{
    const int index = host::g_lstVars->indexOf(name);
    if (index < 0)
        return nullptr;
    return qobject_cast<quillon::TMyDataSet *>(host::g_lstVars->objectAt(index));
}

quillon::TMyDataSet *GetCdsSite() { return GetCdsByLine(QStringLiteral("cdsSite")); }
quillon::TMyDataSet *GetCdsSiteSub() { return GetCdsByLine(QStringLiteral("cdsSiteSub")); }
quillon::TMyDataSet *GetCdsEmployeeAll() { return GetCdsByLine(QStringLiteral("cdsEmployeeAll")); }
quillon::TMyDataSet *GetCdsEmployeeSub() { return GetCdsByLine(QStringLiteral("cdsEmployeeSub")); }
quillon::TMyDataSet *GetCdsMdd() { return GetCdsByLine(QStringLiteral("cdsMdd")); }
quillon::TMyDataSet *GetCdsGoodsType() { return GetCdsByLine(QStringLiteral("cdsGoodsType")); }
quillon::TMyDataSet *GetCdsFNSite() { return GetCdsByLine(QStringLiteral("cdsFNSite")); }

bool CheckDataSet(quillon::TMyDataSet *dataSet, bool showMessage)
{
    const bool ok = dataSet && dataSet->Active() && dataSet->RecordCount() > 0;
    if (!ok && showMessage)
        FuncObj()->MsgBox(QStringLiteral("当前的记录集没有打开或记录集中没有数据!"), 0);
    return ok;
}

bool FillComboBox(quillon::TMyDataSet *dataSet, QComboBox *combo, const QString &fieldName,
                  bool clear, const QString &firstItem)
{
    if (!combo)
        return false;
    combo->setUpdatesEnabled(false);
    const QSignalBlocker block(combo);
    struct Restore
    {
        QComboBox *c;
        ~Restore() { c->setUpdatesEnabled(true); }
    } restore{combo};
    if (clear)
        combo->clear();
    if (firstItem != QLatin1String("N"))
        combo->addItem(firstItem);
    if (!CheckDataSet(dataSet, false))
        return true;
    try {
        quillon::TField *field = dataSet->FieldByName(fieldName);
        dataSet->DisableControls();
        struct Enable
        {
            quillon::TMyDataSet *d;
            ~Enable() { d->EnableControls(); }
        } enable{dataSet};
        dataSet->First();
        while (!dataSet->Eof()) {
            const QString value = field->AsString();
            if (combo->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
                combo->addItem(value);
            dataSet->Next();
        }
    } catch (...) {
        return false;
    }
    return true;
}

QString GetLogOnEmpName()
{
    return host::g_lstVars->value(QStringLiteral("LogOnEmpName"));
}

QString QuotedStr(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}

QString QuotedVar(const QString &name)
{
    return QuotedStr(host::g_lstVars->value(name));
}

host::IFuncObj *FuncObj()
{
    return host::g_FuncObj ? host::g_FuncObj : host::CFuncObj();
}

host::IDBCommObj *DBConn()
{
    return host::g_DBConn ? host::g_DBConn : host::CdbCommObj();
}

QStringList SplitCommaText(const QString &text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto isBlank = [](QChar c) { return c.unicode() <= 32; };
    while (i < n) {
        while (i < n && (isBlank(text.at(i)) || text.at(i) == u','))
            ++i;
        if (i >= n)
            break;
        QString item;
        if (text.at(i) == u'"') {
            ++i;
            while (i < n) {
                if (text.at(i) == u'"') {
                    if (i + 1 < n && text.at(i + 1) == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text.at(i++);
            }
            // Text glued to the closing quote belongs to the item.
            while (i < n && !isBlank(text.at(i)) && text.at(i) != u',')
                item += text.at(i++);
        } else {
            while (i < n && !isBlank(text.at(i)) && text.at(i) != u',')
                item += text.at(i++);
        }
        items.append(item);
    }
    return items;
}

} // namespace framework
