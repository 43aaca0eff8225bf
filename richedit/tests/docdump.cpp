#include "docdump.h"

#include "richedit/rtfunits.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

#include <ostream>

namespace richedit::test {

bool Run::sameFormat(const Run &o) const
{
    return family == o.family && qFuzzyCompare(pointSize, o.pointSize) && bold == o.bold &&
           italic == o.italic && underline == o.underline && strike == o.strike &&
           vertical == o.vertical && foreground == o.foreground && background == o.background &&
           href == o.href;
}

bool Paragraph::operator==(const Paragraph &o) const
{
    return text == o.text && alignment == o.alignment && leftTwips == o.leftTwips &&
           rightTwips == o.rightTwips && firstTwips == o.firstTwips &&
           beforeTwips == o.beforeTwips && afterTwips == o.afterTwips && listStyle == o.listStyle &&
           listIndent == o.listIndent && runs == o.runs;
}

QList<Paragraph> dump(const QTextDocument &doc)
{
    QList<Paragraph> out;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        Paragraph p;
        const QTextBlockFormat bf = block.blockFormat();
        p.text = block.text();
        p.alignment = bf.alignment() & Qt::AlignHorizontal_Mask;
        if (p.alignment == Qt::AlignLeft || p.alignment == Qt::AlignLeading || !p.alignment)
            p.alignment = Qt::AlignLeft;
        p.leftTwips = unitsToTwips(bf.leftMargin());
        p.rightTwips = unitsToTwips(bf.rightMargin());
        p.firstTwips = unitsToTwips(bf.textIndent());
        p.beforeTwips = unitsToTwips(bf.topMargin());
        p.afterTwips = unitsToTwips(bf.bottomMargin());
        if (QTextList *list = block.textList()) {
            p.listStyle = list->format().style();
            p.listIndent = list->format().indent();
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fr = it.fragment();
            const QTextCharFormat f = fr.charFormat();
            Run r;
            r.text = fr.text();
            const QStringList fam = f.fontFamilies().toStringList();
            r.family = fam.isEmpty() ? doc.defaultFont().family() : fam.first();
            r.pointSize =
                f.fontPointSize() > 0 ? f.fontPointSize() : doc.defaultFont().pointSizeF();
            r.bold = f.fontWeight() >= QFont::DemiBold;
            r.italic = f.fontItalic();
            r.underline = f.fontUnderline();
            r.strike = f.fontStrikeOut();
            r.vertical = f.verticalAlignment();
            if (f.foreground().style() != Qt::NoBrush)
                r.foreground = f.foreground().color();
            if (f.background().style() != Qt::NoBrush)
                r.background = f.background().color();
            r.href = f.isAnchor() ? f.anchorHref() : QString();
            if (!p.runs.isEmpty() && p.runs.last().sameFormat(r))
                p.runs.last().text += r.text;
            else
                p.runs << r;
        }
        out << p;
    }
    return out;
}

void PrintTo(const Run &r, std::ostream *os)
{
    *os << "Run(\"" << r.text.toStdString() << "\" " << r.family.toStdString() << ' ' << r.pointSize
        << "pt" << (r.bold ? " b" : "") << (r.italic ? " i" : "") << (r.underline ? " u" : "")
        << (r.strike ? " s" : "") << " v" << r.vertical
        << " fg=" << r.foreground.name().toStdString() << (r.foreground.isValid() ? "" : "?")
        << " bg=" << r.background.name().toStdString() << (r.background.isValid() ? "" : "?")
        << " href=" << r.href.toStdString() << ')';
}

void PrintTo(const Paragraph &p, std::ostream *os)
{
    *os << "Paragraph(\"" << p.text.toStdString() << "\" align=" << int(p.alignment)
        << " li=" << p.leftTwips << " ri=" << p.rightTwips << " fi=" << p.firstTwips
        << " sb=" << p.beforeTwips << " sa=" << p.afterTwips << " list=" << p.listStyle << '/'
        << p.listIndent << " runs=[";
    for (const Run &r : p.runs) {
        PrintTo(r, os);
        *os << ' ';
    }
    *os << "])";
}

} // namespace richedit::test
