#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace tessera {

// A plain ini file as the Windows profile functions read it: "[Section]" headers and
// name=value lines, names and sections compared without regard to case, values trimmed.
// Unlike QSettings it keeps commas and backslashes in values as they stand and keeps the
// order of sections and lines when written back.
class IniFile
{
public:
    IniFile() = default;
    explicit IniFile(const QString &fileName) { load(fileName); }

    // Reads the file (UTF-8, with or without BOM; GB18030 when not valid UTF-8). A missing
    // file gives an empty ini and false.
    bool load(const QString &fileName);
    // Writes UTF-8; false when the file cannot be written.
    bool save(const QString &fileName) const;

    bool hasSection(const QString &section) const;
    QStringList sections() const;
    // The name=value pairs of a section, in file order.
    QList<QPair<QString, QString>> values(const QString &section) const;
    QString value(const QString &section, const QString &name, const QString &fallback = {}) const;
    bool contains(const QString &section, const QString &name) const;
    // Decimal integer; the fallback when the key is missing or not a number.
    qint64 intValue(const QString &section, const QString &name, qint64 fallback) const;

    void setValue(const QString &section, const QString &name, const QString &value);
    void removeSection(const QString &section);

private:
    struct Section
    {
        QString name;
        QList<QPair<QString, QString>> lines;
    };
    int sectionIndex(const QString &name) const;
    QList<Section> m_sections;
};

} // namespace tessera
