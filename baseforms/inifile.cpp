#include "baseforms/inifile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace tessera {

bool IniFile::load(const QString &fileName)
{
    m_sections.clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder gb("GB18030");
        if (gb.isValid())
            text = gb.decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    int current = -1;
    const auto lines = QStringView(text).split(QLatin1Char('\n'));
    for (QStringView raw : lines) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed().toString();
            current = sectionIndex(name);
            if (current < 0) {
                m_sections.append({name, {}});
                current = int(m_sections.size()) - 1;
            }
            continue;
        }
        if (current < 0)
            continue;
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        m_sections[current].lines.append(
            {line.left(eq).trimmed().toString(), line.mid(eq + 1).trimmed().toString()});
    }
    return true;
}

bool IniFile::save(const QString &fileName) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QString text;
    for (const Section &s : m_sections) {
        text += QLatin1Char('[') + s.name + QStringLiteral("]\n");
        for (const auto &l : s.lines)
            text += l.first + QLatin1Char('=') + l.second + QLatin1Char('\n');
        text += QLatin1Char('\n');
    }
    file.write(text.toUtf8());
    return file.commit();
}

int IniFile::sectionIndex(const QString &name) const
{
    for (int i = 0; i < m_sections.size(); ++i)
        if (m_sections[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool IniFile::hasSection(const QString &section) const
{
    return sectionIndex(section) >= 0;
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (const Section &s : m_sections)
        names << s.name;
    return names;
}

QList<QPair<QString, QString>> IniFile::values(const QString &section) const
{
    const int i = sectionIndex(section);
    return i < 0 ? QList<QPair<QString, QString>>() : m_sections[i].lines;
}

bool IniFile::contains(const QString &section, const QString &name) const
{
    const int i = sectionIndex(section);
    if (i < 0)
        return false;
    for (const auto &l : m_sections[i].lines)
        if (l.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString IniFile::value(const QString &section, const QString &name, const QString &fallback) const
{
    const int i = sectionIndex(section);
    if (i < 0)
        return fallback;
    for (const auto &l : m_sections[i].lines)
        if (l.first.compare(name, Qt::CaseInsensitive) == 0)
            return l.second;
    return fallback;
}

qint64 IniFile::intValue(const QString &section, const QString &name, qint64 fallback) const
{
    if (!contains(section, name))
        return fallback;
    bool ok = false;
    const qint64 v = value(section, name).toLongLong(&ok);
    return ok ? v : fallback;
}

void IniFile::setValue(const QString &section, const QString &name, const QString &value)
{
    int i = sectionIndex(section);
    if (i < 0) {
        m_sections.append({section, {}});
        i = int(m_sections.size()) - 1;
    }
    for (auto &l : m_sections[i].lines) {
        if (l.first.compare(name, Qt::CaseInsensitive) == 0) {
            l.second = value;
            return;
        }
    }
    m_sections[i].lines.append({name, value});
}

void IniFile::removeSection(const QString &section)
{
    const int i = sectionIndex(section);
    if (i >= 0)
        m_sections.removeAt(i);
}

} // namespace tessera
