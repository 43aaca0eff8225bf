#pragma once
// The shared variable list: ordered "name=value" text lines, each able to carry an
// attached object (a client dataset, usually).
//
// Usage:
//   host::g_lstVars->setValue("sysid", "001");
//   QString t = host::g_lstVars->value("Msg33");         // names ignore case
//   host::g_lstVars->attachTo("cdsSite", dataset);        // line "cdsSite" + object
//   auto *ds = host::g_lstVars->objectAs<quillon::TMyDataSet>("cdsSite");
//
// Names are compared without regard to case ("iExepath" and "iExePath" reach the same
// line). The list never owns attached objects; it holds them through QPointer, so an
// object deleted elsewhere reads back as nullptr instead of dangling.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace host {

class VarList
{
public:
    int count() const { return int(m_lines.size()); }
    bool isEmpty() const { return m_lines.isEmpty(); }

    // Raw lines, exactly as appended.
    QString line(int index) const;
    void setLine(int index, const QString &text);
    QStringList lines() const;
    // All lines joined with "\n".
    QString text() const;

    // Name and value of a name=value line: the text before and after the first "=".
    // A line without "=" has no name (empty) and no value.
    QString nameAt(int index) const;
    QString valueAt(int index) const;

    // Index of the first line whose whole text equals `text` (ignoring case), or -1.
    int indexOf(const QString &text) const;
    // Index of the first name=value line with that name (ignoring case), or -1.
    int indexOfName(const QString &name) const;
    bool hasName(const QString &name) const { return indexOfName(name) >= 0; }

    // Value of the first line with that name; empty when there is none.
    QString value(const QString &name) const;
    // Sets the value of the first line with that name, or appends "name=value". An empty
    // value keeps the line (as "name="), so the name stays known.
    void setValue(const QString &name, const QString &value);

    // Appends a raw line (not parsed), with an optional attached object. Returns its index.
    int append(const QString &line, QObject *object = nullptr);
    void appendLines(const QStringList &lines);

    void removeAt(int index);
    // Removes the first line named `name` (name=value) or, failing that, the first line
    // whose whole text is `name`. Returns whether a line was removed.
    bool remove(const QString &name);
    void clear() { m_lines.clear(); }

    QObject *objectAt(int index) const;
    void attach(int index, QObject *object);
    // The object attached to the line whose whole text is `name`, else to the name=value
    // line of that name; nullptr when there is no such line or nothing is attached.
    QObject *object(const QString &name) const;
    template<class T> T *objectAs(const QString &name) const
    {
        return qobject_cast<T *>(object(name));
    }
    // Attaches `object` to the line whose whole text is `name`, appending such a line when
    // there is none. Returns the line's index.
    int attachTo(const QString &name, QObject *object);

private:
    struct Line
    {
        QString text;
        QPointer<QObject> object;
    };
    QList<Line> m_lines;
};

} // namespace host
