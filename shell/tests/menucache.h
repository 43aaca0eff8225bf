#pragma once
// Writes client-dataset files of the menu layout for the log-on tests.

#include "dataaccess/mydataset.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace shell::test {

struct MenuRow
{
    const char *posid;
    const char *name;
    const char *func;
    int offline;
    const char *png;
};

inline void writeMenuCache(const QString &file, const QList<MenuRow> &rows)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    quillon::TMyDataSet ds;
    using quillon::FieldType;
    ds.SetFieldDefs({{QStringLiteral("POSID"), FieldType::String, 11},
                     {QStringLiteral("MENUNAME"), FieldType::String, 40},
                     {QStringLiteral("FUNCNAME"), FieldType::String, 60},
                     {QStringLiteral("ORGANLEVEL"), FieldType::String, 10},
                     {QStringLiteral("SHORTCUT"), FieldType::String, 20},
                     {QStringLiteral("OFFLINEENABLED"), FieldType::Integer, 0},
                     {QStringLiteral("PNGNAME"), FieldType::String, 20}});
    ds.CreateDataSet();
    for (const MenuRow &r : rows) {
        ds.Append();
        ds.FieldByName(QStringLiteral("POSID"))->SetAsString(QString::fromUtf8(r.posid));
        ds.FieldByName(QStringLiteral("MENUNAME"))->SetAsString(QString::fromUtf8(r.name));
        ds.FieldByName(QStringLiteral("FUNCNAME"))->SetAsString(QString::fromUtf8(r.func));
        ds.FieldByName(QStringLiteral("ORGANLEVEL"))->SetAsString(QStringLiteral("1"));
        ds.FieldByName(QStringLiteral("OFFLINEENABLED"))->SetAsInteger(r.offline);
        ds.FieldByName(QStringLiteral("PNGNAME"))->SetAsString(QString::fromUtf8(r.png));
        ds.Post();
    }
    ds.SaveToFile(file);
}

// A small lookup table with one column.
inline void writeTable(const QString &file, int rows)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    quillon::TMyDataSet ds;
    ds.SetFieldDefs({{QStringLiteral("NAME"), quillon::FieldType::String, 20}});
    ds.CreateDataSet();
    for (int i = 0; i < rows; ++i) {
        ds.Append();
        ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QString::number(i));
        ds.Post();
    }
    ds.SaveToFile(file);
}

} // namespace shell::test
