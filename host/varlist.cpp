#include "host/varlist.h"

namespace host {

namespace {

// The name part of a line, or a null view when the line has no "=".
QStringView namePart(const QString &line)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return {};
    return QStringView(line).left(eq);
}

} // namespace

QString VarList::line(int index) const
{
    return m_lines.at(index).text;
}

void VarList::setLine(int index, const QString &text)
{
    m_lines[index].text = text;
}

QStringList VarList::lines() const
{
    QStringList out;
    out.reserve(m_lines.size());
    for (const Line &l : m_lines)
        out.append(l.text);
    return out;
}

QString VarList::text() const
{
    return lines().join(u'\n');
}

QString VarList::nameAt(int index) const
{
    return namePart(m_lines.at(index).text).toString();
}

QString VarList::valueAt(int index) const
{
    const QString &t = m_lines.at(index).text;
    const qsizetype eq = t.indexOf(u'=');
    return eq < 0 ? QString() : t.mid(eq + 1);
}

int VarList::indexOf(const QString &text) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).text.compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int VarList::indexOfName(const QString &name) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        const QString &t = m_lines.at(i).text;
        if (t.size() <= name.size() || t.at(name.size()) != u'=')
            continue;
        if (QStringView(t).left(name.size()).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString VarList::value(const QString &name) const
{
    const int i = indexOfName(name);
    return i < 0 ? QString() : valueAt(i);
}

void VarList::setValue(const QString &name, const QString &value)
{
    const int i = indexOfName(name);
    if (i < 0) {
        append(name + u'=' + value);
        return;
    }
    // Keep the spelling of the name as it was first written.
    m_lines[i].text = namePart(m_lines.at(i).text) + u'=' + value;
}

int VarList::append(const QString &line, QObject *object)
{
    m_lines.append(Line{line, object});
    return int(m_lines.size()) - 1;
}

void VarList::appendLines(const QStringList &lines)
{
    m_lines.reserve(m_lines.size() + lines.size());
    for (const QString &l : lines)
        m_lines.append(Line{l, nullptr});
}

void VarList::removeAt(int index)
{
    m_lines.removeAt(index);
}

bool VarList::remove(const QString &name)
{
    int i = indexOfName(name);
    if (i < 0)
        i = indexOf(name);
    if (i < 0)
        return false;
    m_lines.removeAt(i);
    return true;
}

QObject *VarList::objectAt(int index) const
{
    return m_lines.at(index).object.data();
}

void VarList::attach(int index, QObject *object)
{
    m_lines[index].object = object;
}

QObject *VarList::object(const QString &name) const
{
    int i = indexOf(name);
    if (i < 0)
        i = indexOfName(name);
    return i < 0 ? nullptr : objectAt(i);
}

int VarList::attachTo(const QString &name, QObject *object)
{
    int i = indexOf(name);
    if (i < 0)
        return append(name, object);
    attach(i, object);
    return i;
}

} // namespace host
