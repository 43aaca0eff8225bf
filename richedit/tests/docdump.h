#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QTextListFormat>

#include <ostream>

class QTextDocument;

// Readable test failure output for Qt strings.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace richedit::test {

// What a reader sees of one stretch of equally formatted text.
struct Run
{
    QString text;
    QString family;
    double pointSize = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int vertical = 0;
    QColor foreground;
    QColor background;
    QString href;

    bool sameFormat(const Run &o) const;
    bool operator==(const Run &o) const { return text == o.text && sameFormat(o); }
};

struct Paragraph
{
    QString text;
    Qt::Alignment alignment;
    int leftTwips = 0;
    int rightTwips = 0;
    int firstTwips = 0;
    int beforeTwips = 0;
    int afterTwips = 0;
    int listStyle = 0; // 0 = not in a list, else QTextListFormat::Style
    int listIndent = 0;
    QList<Run> runs; // neighbouring runs of equal format merged

    bool operator==(const Paragraph &o) const;
};

QList<Paragraph> dump(const QTextDocument &doc);

void PrintTo(const Run &run, std::ostream *os);
void PrintTo(const Paragraph &p, std::ostream *os);

} // namespace richedit::test
