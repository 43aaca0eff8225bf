#include "toolbox.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/sqltext.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "gridexport.h"
#include "host/dialogpresenter.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "lookupchooser.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QFile>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <memory>

namespace toolbox {

QString Params::value(const QString &name) const
{
    for (const QString &line : m_lines) {
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return host::g_lstVars->value(name);
}

bool Params::has(const QString &name) const
{
    for (const QString &line : m_lines) {
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return host::g_lstVars->hasName(name);
}

namespace {

template<class T> T *objectAt(const Params &params, const QString &name)
{
    bool ok = false;
    const quintptr address = params.value(name).toULongLong(&ok);
    if (!ok || address == 0)
        throw host::UserError(QStringLiteral("px_Toolbox: 参数 %1 无效").arg(name));
    return reinterpret_cast<T *>(address);
}

std::unique_ptr<quillon::TMyDataSet> openQuery(const QString &sql)
{
    auto ds = std::make_unique<quillon::TMyDataSet>();
    auto *conn =
        host::g_DBConn ? host::g_DBConn->GetConnectionAs<quillon::TMySktConnection>() : nullptr;
    if (!conn)
        throw host::UserError(QStringLiteral("没有应用服务器连接"));
    ds->SetMyConn(conn);
    ds->SetCommandText(sql);
    ds->Open();
    return ds;
}

} // namespace

void GridEhToExcel(const Params &params)
{
    auto *grid = objectAt<tessera::TDBGridEh>(params, QStringLiteral("Grid"));
    const QString title = params.value(QStringLiteral("Title"));
    QString file = params.value(QStringLiteral("ExcelFile"));
    if (file.isEmpty()) {
        file = host::dialogPresenter().chooseSaveFile(QStringLiteral("导出到Excel"),
                                                      title + QStringLiteral(".xlsx"),
                                                      QStringLiteral("Excel (*.xlsx)"));
        if (file.isEmpty())
            return; // the user cancelled
        if (!file.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
            file += QStringLiteral(".xlsx");
    }
    writeGridToXlsx(grid, file, title, params.value(QStringLiteral("ConditionDescr")));
    if (params.value(QStringLiteral("ShowFlag"))
            .compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        tessera::HintDialog(QStringLiteral("已导出到 %1").arg(file));
}

QString lookupOver(quillon::TMyDataSet *data, const Params &params)
{
    LookupChooser::Options o;
    o.caption = params.value(QStringLiteral("DlgCaption"));
    o.codeField = params.value(QStringLiteral("DlgCode"));
    o.nameField = params.value(QStringLiteral("DlgName"));
    o.belongField = params.value(QStringLiteral("DlgBelong"));
    o.multiple = params.value(QStringLiteral("DlgFlag")).trimmed() == QStringLiteral("1");
    o.returnKind = params.value(QStringLiteral("DlgReturn")).trimmed().toInt();
    o.preselection = params.value(QStringLiteral("DlgSelText"));
    LookupChooser dialog(data, o);
    if (host::dialogPresenter().execDialog(&dialog) != QDialog::Accepted)
        return QStringLiteral("CANCEL");
    return dialog.result();
}

void fLookupDlg(const Params &params)
{
    // Whatever happens, the caller finds an answer.
    host::g_lstVars->setValue(QStringLiteral("ReturnData"), QStringLiteral("CANCEL"));
    auto data = openQuery(params.value(QStringLiteral("DlgSelectSQL")));
    host::g_lstVars->setValue(QStringLiteral("ReturnData"), lookupOver(data.get(), params));
}

void fFileUpload(const Params &params)
{
    auto *grid = objectAt<tessera::TDBGridEh>(params, QStringLiteral("DataGrid"));
    tessera::TDataSource *source = grid->DataSource();
    quillon::TMyDataSet *ds = source ? source->DataSet() : nullptr;
    if (!ds || !ds->Active())
        throw host::UserError(QStringLiteral("没有可上传的数据集"));
    const QString file = host::dialogPresenter().chooseOpenFile(
        QStringLiteral("选择要上传的文件"), QStringLiteral("CSV (*.csv *.txt)"));
    if (file.isEmpty())
        return;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw host::UserError(QStringLiteral("文件[%1]不存在.").arg(file));
    const QByteArray bytes = f.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder gb("GB18030");
        text = gb.decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringList lines = tessera::splitLines(text);
    if (lines.isEmpty())
        return;
    // The first line names the columns, by field name or grid title.
    QList<int> fieldOf;
    for (const QString &h : lines.first().split(QLatin1Char(','))) {
        int field = ds->fieldIndex(h.trimmed());
        if (field < 0)
            for (tessera::TColumnEh *c : grid->Columns())
                if (c->title() == h.trimmed())
                    field = ds->fieldIndex(c->FieldName);
        fieldOf << field;
    }
    int added = 0;
    QList<quillon::TBookmark> appended;
    ds->DisableControls();
    try {
        for (int i = 1; i < lines.size(); ++i) {
            if (lines[i].trimmed().isEmpty())
                continue;
            const QStringList values = lines[i].split(QLatin1Char(','));
            ds->Append();
            for (int c = 0; c < fieldOf.size() && c < values.size(); ++c)
                if (fieldOf[c] >= 0)
                    ds->Fields(fieldOf[c])->SetAsString(values[c].trimmed());
            ds->Post();
            appended << ds->GetBookmark();
            ++added;
        }
    } catch (...) {
        // A row the dataset refuses stops the upload; the rows of this file already
        // added are taken out again, so the file is taken whole or not at all.
        if (ds->State() != quillon::DataSetState::Browse)
            ds->Cancel();
        for (const quillon::TBookmark b : std::as_const(appended)) {
            if (ds->BookmarkValid(b)) {
                ds->GotoBookmark(b);
                ds->Delete();
            }
        }
        ds->EnableControls();
        throw;
    }
    ds->EnableControls();
    if (added > 0 && !params.value(QStringLiteral("TableName")).isEmpty())
        ds->ApplyUpdates(0);
    tessera::HintDialog(QStringLiteral("已上传 %1 条记录").arg(added));
}

bool saveParameters(quillon::TMyDataSet &ds)
{
    try {
        if (ds.State() != quillon::DataSetState::Browse)
            ds.Post();
        if (ds.ChangeCount() == 0) {
            tessera::HintDialog(QStringLiteral("参数没有修改，不需要保存。"));
            return true;
        }
        ds.ApplyUpdates(0);
    } catch (...) {
        const host::ErrorText why = host::describeException(std::current_exception());
        tessera::WarningDialog(QStringLiteral("参数没有保存：%1\n您的修改仍在窗口中，请改正后再按“保存”，"
                                              "或按“关闭”放弃修改。")
                                   .arg(why.text),
                               why.details);
        return false;
    }
    tessera::HintDialog(QStringLiteral("参数已保存。"));
    return true;
}

void fParamSet(const Params &params)
{
    QString sql = params.value(QStringLiteral("ParamSql"));
    if (sql.isEmpty())
        sql = QStringLiteral("select * from TAB_PARAMETER where sysid=") +
              tessera::quotedSql(host::g_lstVars->value(QStringLiteral("sysid"))) +
              QStringLiteral(" order by PARAMCODE");
    auto ds = openQuery(sql);
    // A changed value carries who changed it and when.
    const int empField = ds->fieldIndex(QStringLiteral("MODIFYEMP"));
    const int timeField = ds->fieldIndex(QStringLiteral("MODIFYTIME"));
    ds->BeforePost = [empField, timeField](quillon::TMyDataSet &d) {
        if (empField >= 0)
            d.Fields(empField)->SetAsString(host::g_lstVars->value(QStringLiteral("LogOnEmpName")));
        if (timeField >= 0)
            d.Fields(timeField)->SetValue(host::g_FuncObj ? host::g_FuncObj->GetServerDateTime()
                                                          : QDateTime::currentDateTime());
    };
    tessera::TDataSource source;
    source.setDataSet(ds.get());
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("fParamSet"));
    dialog.setWindowTitle(QStringLiteral("系统设置"));
    dialog.resize(920, 460);
    auto *layout = new QVBoxLayout(&dialog);
    auto *hint = new QLabel(QStringLiteral("在“参数值”一列修改参数，按“保存”生效。"), &dialog);
    layout->addWidget(hint);
    auto *grid = new tessera::TDBGridEh(&dialog);
    grid->setObjectName(QStringLiteral("DBGridParam"));
    // The parameter table's own columns get Chinese titles; only the value is editable.
    // Another query (ParamSql) shows its fields as they are.
    struct Col
    {
        const char *field;
        const char *title;
        bool editable;
    };
    static const Col cols[] = {{"PARAMCODE", "参数代码", false}, {"PARAMNAME", "参数名称", false},
                               {"PARAMVALUE", "参数值", true},   {"REMARK", "说明", false},
                               {"MODIFYEMP", "修改人", false},   {"MODIFYTIME", "修改时间", false}};
    if (ds->fieldIndex(QStringLiteral("PARAMVALUE")) >= 0) {
        for (const Col &c : cols) {
            if (ds->fieldIndex(QString::fromLatin1(c.field)) < 0)
                continue;
            tessera::TColumnEh *column =
                grid->addColumn(QString::fromLatin1(c.field), QString::fromUtf8(c.title), 100);
            column->ReadOnly = !c.editable;
        }
    }
    grid->setDataSource(&source);
    layout->addWidget(grid);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *save = new QPushButton(QStringLiteral("保存"), &dialog);
    save->setObjectName(QStringLiteral("btnSave"));
    auto *close = new QPushButton(QStringLiteral("关闭"), &dialog);
    close->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(save);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    // 保存 saves while the window stays open: a save the server refuses leaves the user's
    // edit in the grid, says what to do and lets him correct it and save again.
    QObject::connect(save, &QPushButton::clicked, &dialog, [&] {
        if (saveParameters(*ds))
            dialog.accept();
    });
    QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
    host::dialogPresenter().execDialog(&dialog);
}

void execute(const QString &function, const Params &params)
{
    const QString f = function.section(QLatin1Char('.'), -1);
    if (f.compare(QStringLiteral("GridEhToExcel"), Qt::CaseInsensitive) == 0)
        GridEhToExcel(params);
    else if (f.compare(QStringLiteral("fLookupDlg"), Qt::CaseInsensitive) == 0)
        fLookupDlg(params);
    else if (f.compare(QStringLiteral("fFileUpload"), Qt::CaseInsensitive) == 0)
        fFileUpload(params);
    else if (f.compare(QStringLiteral("fParamSet"), Qt::CaseInsensitive) == 0)
        fParamSet(params);
    else
        throw host::UserError(QStringLiteral("px_Toolbox: 没有功能 %1").arg(function));
}

} // namespace toolbox
