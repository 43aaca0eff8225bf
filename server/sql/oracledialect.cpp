#include "server/sql/oracledialect.h"

#include <QDateTime>

namespace server {

namespace {

enum class Tok { Space, Comment, String, QuotedIdent, Number, Ident, Param, Op, LParen, RParen,
                 Comma, Semicolon };

struct Token
{
    Tok kind;
    QString text;
};

bool isIdentStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isIdentPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$')
           || c == QLatin1Char('#');
}

QList<Token> tokenize(const QString &s)
{
    QList<Token> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s.at(i);
        const qsizetype start = i;
        if (c.isSpace()) {
            while (i < n && s.at(i).isSpace())
                ++i;
            out.append({Tok::Space, s.mid(start, i - start)});
        } else if (c == QLatin1Char('-') && i + 1 < n && s.at(i + 1) == QLatin1Char('-')) {
            while (i < n && s.at(i) != QLatin1Char('\n'))
                ++i;
            out.append({Tok::Comment, s.mid(start, i - start)});
        } else if (c == QLatin1Char('/') && i + 1 < n && s.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
            if (end < 0)
                throw DbError(QStringLiteral("unterminated comment in SQL text"));
            i = end + 2;
            out.append({Tok::Comment, s.mid(start, i - start)});
        } else if (c == QLatin1Char('\'')) {
            ++i;
            for (;;) {
                if (i >= n)
                    throw DbError(QStringLiteral("unterminated string literal in SQL text"));
                if (s.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < n && s.at(i + 1) == QLatin1Char('\'')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            out.append({Tok::String, s.mid(start, i - start)});
        } else if (c == QLatin1Char('"')) {
            const qsizetype end = s.indexOf(QLatin1Char('"'), i + 1);
            if (end < 0)
                throw DbError(QStringLiteral("unterminated quoted identifier in SQL text"));
            i = end + 1;
            out.append({Tok::QuotedIdent, s.mid(start, i - start)});
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && s.at(i + 1).isDigit())) {
            while (i < n && (s.at(i).isDigit() || s.at(i) == QLatin1Char('.')))
                ++i;
            if (i < n && (s.at(i) == QLatin1Char('e') || s.at(i) == QLatin1Char('E'))) {
                ++i;
                if (i < n && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-')))
                    ++i;
                while (i < n && s.at(i).isDigit())
                    ++i;
            }
            out.append({Tok::Number, s.mid(start, i - start)});
        } else if (isIdentStart(c)) {
            while (i < n && isIdentPart(s.at(i)))
                ++i;
            out.append({Tok::Ident, s.mid(start, i - start)});
        } else if (c == QLatin1Char(':') && i + 1 < n
                   && (s.at(i + 1).isLetterOrNumber() || s.at(i + 1) == QLatin1Char('_'))) {
            ++i;
            while (i < n && isIdentPart(s.at(i)))
                ++i;
            out.append({Tok::Param, s.mid(start + 1, i - start - 1)});
        } else if (c == QLatin1Char('(')) {
            ++i;
            out.append({Tok::LParen, QStringLiteral("(")});
        } else if (c == QLatin1Char(')')) {
            ++i;
            out.append({Tok::RParen, QStringLiteral(")")});
        } else if (c == QLatin1Char(',')) {
            ++i;
            out.append({Tok::Comma, QStringLiteral(",")});
        } else if (c == QLatin1Char(';')) {
            ++i;
            out.append({Tok::Semicolon, QStringLiteral(";")});
        } else {
            static const char *const twoChar[] = {"=>", "<=", ">=", "<>", "!=", "||", "::"};
            bool matched = false;
            if (i + 1 < n) {
                const QString two = s.mid(i, 2);
                for (const char *op : twoChar) {
                    if (two == QLatin1String(op)) {
                        out.append({Tok::Op, two});
                        i += 2;
                        matched = true;
                        break;
                    }
                }
            }
            if (!matched) {
                out.append({Tok::Op, QString(c)});
                ++i;
            }
        }
    }
    return out;
}

// A token or a parenthesised group of nodes.
struct Node
{
    Token tok;
    bool group = false;
    QList<Node> children;
};

QList<Node> buildTree(const QList<Token> &toks, qsizetype &i, bool nested)
{
    QList<Node> nodes;
    while (i < toks.size()) {
        const Token &t = toks.at(i);
        if (t.kind == Tok::RParen) {
            if (!nested)
                throw DbError(QStringLiteral("unbalanced parenthesis in SQL text"));
            ++i;
            return nodes;
        }
        ++i;
        if (t.kind == Tok::LParen) {
            Node g;
            g.group = true;
            g.tok = t;
            g.children = buildTree(toks, i, true);
            nodes.append(std::move(g));
            continue;
        }
        nodes.append(Node{t, false, {}});
    }
    if (nested)
        throw DbError(QStringLiteral("unbalanced parenthesis in SQL text"));
    return nodes;
}

bool significant(const Node &n)
{
    return n.group || (n.tok.kind != Tok::Space && n.tok.kind != Tok::Comment);
}

qsizetype nextSig(const QList<Node> &nodes, qsizetype i)
{
    while (i < nodes.size() && !significant(nodes.at(i)))
        ++i;
    return i;
}

bool isIdent(const Node &n, const char *lowerName)
{
    return !n.group && n.tok.kind == Tok::Ident
           && n.tok.text.compare(QLatin1String(lowerName), Qt::CaseInsensitive) == 0;
}

class Translator
{
public:
    Translator(const DialectTarget &t, TranslatedSql &out)
        : m_t(t)
        , m_out(out)
    {}

    QString emitSeq(const QList<Node> &nodes, bool top = false);

private:
    qsizetype m_limit = -1; // rownum limit of the query level being written
    QString emitNode(const QList<Node> &nodes, qsizetype &i, bool *isDate);
    QString emitCall(const QString &name, const Node &group, bool *isDate);
    QString placeholder(const QString &name);

    const DialectTarget &m_t;
    TranslatedSql &m_out;
};

QString Translator::placeholder(const QString &name)
{
    m_out.parameterNames.append(name);
    return m_t.placeholder(int(m_out.parameterNames.size()));
}

QList<QList<Node>> splitArgs(const QList<Node> &children)
{
    QList<QList<Node>> args;
    QList<Node> cur;
    for (const Node &n : children) {
        if (!n.group && n.tok.kind == Tok::Comma) {
            args.append(cur);
            cur.clear();
        } else {
            cur.append(n);
        }
    }
    if (!args.isEmpty() || !cur.isEmpty())
        args.append(cur);
    return args;
}

QString Translator::emitCall(const QString &name, const Node &group, bool *isDate)
{
    const QString lower = name.toLower();
    QList<QList<Node>> args = splitArgs(group.children);

    // Named arguments (name => value) are put into the function's declared order.
    bool named = false;
    for (const QList<Node> &a : args) {
        const qsizetype k = nextSig(a, 0);
        const qsizetype arrow = nextSig(a, k + 1);
        if (k < a.size() && arrow < a.size() && !a.at(arrow).group
            && a.at(arrow).tok.text == QLatin1String("=>"))
            named = true;
    }
    if (named) {
        const QStringList *sig = functionSignature(name);
        if (!sig)
            throw DbError(QStringLiteral("function %1 does not take named arguments").arg(name));
        QList<QList<Node>> ordered(sig->size());
        QList<bool> given(sig->size(), false);
        for (const QList<Node> &a : args) {
            const qsizetype k = nextSig(a, 0);
            const qsizetype arrow = nextSig(a, k + 1);
            if (k >= a.size() || arrow >= a.size() || a.at(arrow).tok.text != QLatin1String("=>"))
                throw DbError(QStringLiteral("%1: positional and named arguments mixed").arg(name));
            const QString argName = a.at(k).tok.text;
            qsizetype pos = -1;
            for (qsizetype p = 0; p < sig->size(); ++p)
                if (sig->at(p).compare(argName, Qt::CaseInsensitive) == 0)
                    pos = p;
            if (pos < 0)
                throw DbError(QStringLiteral("%1 has no parameter %2").arg(name, argName));
            if (given[pos])
                throw DbError(QStringLiteral("%1: parameter %2 given twice").arg(name, argName));
            given[pos] = true;
            ordered[pos] = a.mid(arrow + 1);
        }
        for (qsizetype p = 0; p < ordered.size(); ++p)
            if (!given[p])
                ordered[p] = {Node{Token{Tok::Ident, QStringLiteral("NULL")}, false, {}}};
        args = ordered;
    }

    QString mapped = name;
    if (lower == QLatin1String("nvl"))
        mapped = m_t.nvl;
    else if (lower == QLatin1String("to_date"))
        mapped = m_t.toDate;
    else if (lower == QLatin1String("to_char"))
        mapped = m_t.toChar;
    else if (lower == QLatin1String("trunc"))
        mapped = m_t.trunc;

    QStringList parts;
    for (const QList<Node> &a : args)
        parts.append(emitSeq(a));
    *isDate = lower == QLatin1String("to_date") || lower == QLatin1String("trunc")
              || lower == QLatin1String("sysdate");
    return mapped + QLatin1Char('(') + parts.join(QLatin1Char(',')) + QLatin1Char(')');
}

QString Translator::emitNode(const QList<Node> &nodes, qsizetype &i, bool *isDate)
{
    *isDate = false;
    const Node &n = nodes.at(i);
    if (n.group) {
        ++i;
        return QLatin1Char('(') + emitSeq(n.children) + QLatin1Char(')');
    }
    switch (n.tok.kind) {
    case Tok::Ident: {
        m_out.identifiers.append(n.tok.text.toLower());
        const qsizetype j = nextSig(nodes, i + 1);
        const bool call = j < nodes.size() && nodes.at(j).group;
        if (!call && n.tok.text.compare(QLatin1String("sysdate"), Qt::CaseInsensitive) == 0) {
            ++i;
            *isDate = true;
            return m_t.sysdate;
        }
        if (call) {
            i = j + 1;
            return emitCall(n.tok.text, nodes.at(j), isDate);
        }
        ++i;
        return n.tok.text;
    }
    case Tok::Param:
        ++i;
        return placeholder(n.tok.text);
    case Tok::QuotedIdent:
        ++i;
        m_out.quotedNames.append(n.tok.text.mid(1, n.tok.text.size() - 2));
        m_out.identifiers.append(m_out.quotedNames.last().toLower());
        return n.tok.text;
    default:
        ++i;
        return n.tok.text;
    }
}

QString Translator::emitSeq(const QList<Node> &nodes, bool top)
{
    // A query level (the whole text or a parenthesised select) owns the LIMIT that a
    // rownum condition anywhere in it asks for, also inside boolean parentheses.
    const qsizetype first = nextSig(nodes, 0);
    const bool queryLevel = top
                            || (first < nodes.size()
                                && (isIdent(nodes.at(first), "select") || isIdent(nodes.at(first), "with")));
    const qsizetype outerLimit = m_limit;
    if (queryLevel)
        m_limit = -1;
    QString out;
    qsizetype i = 0;
    while (i < nodes.size()) {
        // rownum <= n / rownum < n / rownum = n: becomes a LIMIT of this query level.
        if (isIdent(nodes.at(i), "rownum")) {
            const qsizetype op = nextSig(nodes, i + 1);
            const qsizetype num = nextSig(nodes, op + 1);
            if (op < nodes.size() && num < nodes.size() && !nodes.at(num).group
                && nodes.at(num).tok.kind == Tok::Number) {
                const QString o = nodes.at(op).tok.text;
                bool ok = false;
                const qsizetype v = nodes.at(num).tok.text.toLongLong(&ok);
                if (ok && (o == QLatin1String("<=") || o == QLatin1String("<")
                           || o == QLatin1String("="))) {
                    qsizetype l = o == QLatin1String("<") ? v - 1 : v;
                    if (o == QLatin1String("=") && v != 1)
                        l = 0; // rownum = 2 never holds in Oracle
                    m_limit = m_limit < 0 ? l : std::min(m_limit, l);
                    out += QLatin1String("1=1");
                    i = num + 1;
                    continue;
                }
            }
            throw DbError(QStringLiteral("unsupported use of rownum"));
        }
        bool isDate = false;
        QString piece = emitNode(nodes, i, &isDate);
        // Date arithmetic in days: date + n, date - n, date - date.
        while (isDate) {
            const qsizetype op = nextSig(nodes, i);
            if (op >= nodes.size() || nodes.at(op).group
                || (nodes.at(op).tok.text != QLatin1String("+")
                    && nodes.at(op).tok.text != QLatin1String("-")))
                break;
            qsizetype k = nextSig(nodes, op + 1);
            if (k >= nodes.size())
                break;
            const Node &operand = nodes.at(k);
            if (!operand.group && operand.tok.kind != Tok::Number && operand.tok.kind != Tok::Ident
                && operand.tok.kind != Tok::Param)
                break;
            bool operandDate = false;
            const QString rhs = emitNode(nodes, k, &operandDate);
            piece = m_t.dateArith + QLatin1Char('(') + piece + QLatin1String(",'")
                    + nodes.at(op).tok.text + QLatin1String("',") + rhs + QLatin1Char(')');
            i = k;
        }
        out += piece;
    }
    if (queryLevel) {
        if (m_limit >= 0)
            out += QStringLiteral(" LIMIT %1").arg(m_limit);
        m_limit = outerLimit;
    }
    return out;
}

} // namespace

TranslatedSql translateOracle(const QString &oracleSql, const DialectTarget &target)
{
    constexpr int kMaxNesting = 200;
    QList<Token> toks = tokenize(oracleSql);

    // "begin <statement>; end;" runs the one statement inside.
    auto firstSig = [&toks]() {
        qsizetype i = 0;
        while (i < toks.size() && (toks.at(i).kind == Tok::Space || toks.at(i).kind == Tok::Comment))
            ++i;
        return i;
    };
    qsizetype f = firstSig();
    if (f < toks.size() && toks.at(f).kind == Tok::Ident
        && toks.at(f).text.compare(QLatin1String("begin"), Qt::CaseInsensitive) == 0) {
        toks.remove(0, f + 1);
        // Drop trailing blanks, semicolons and the closing "end".
        auto trimTail = [&toks]() {
            while (!toks.isEmpty()
                   && (toks.last().kind == Tok::Space || toks.last().kind == Tok::Comment
                       || toks.last().kind == Tok::Semicolon))
                toks.removeLast();
        };
        trimTail();
        if (toks.isEmpty() || toks.last().kind != Tok::Ident
            || toks.last().text.compare(QLatin1String("end"), Qt::CaseInsensitive) != 0)
            throw DbError(QStringLiteral("block without end"));
        toks.removeLast();
        trimTail();
    }
    // A single statement: trailing semicolons are dropped, inner ones refused.
    while (!toks.isEmpty() && (toks.last().kind == Tok::Space || toks.last().kind == Tok::Semicolon
                               || toks.last().kind == Tok::Comment))
        toks.removeLast();
    for (const Token &t : toks)
        if (t.kind == Tok::Semicolon)
            throw DbError(QStringLiteral("only one statement per request"));
    if (toks.isEmpty())
        throw DbError(QStringLiteral("empty SQL text"));

    // The tree and every walk over it recurse once per parenthesis: a bounded depth keeps
    // the server's stack safe from texts like 20,000 nested "nvl(" (the databases refuse far
    // less deep expressions anyway).
    int depth = 0;
    for (const Token &t : std::as_const(toks)) {
        if (t.kind == Tok::LParen && ++depth > kMaxNesting)
            throw DbError(QStringLiteral("the SQL text nests parentheses more than %1 deep")
                              .arg(kMaxNesting));
        if (t.kind == Tok::RParen)
            --depth;
    }
    qsizetype i = 0;
    const QList<Node> tree = buildTree(toks, i, false);
    TranslatedSql out;
    Translator tr(target, out);
    out.sql = tr.emitSeq(tree, true);
    return out;
}

const QStringList *functionSignature(const QString &name)
{
    static const QHash<QString, QStringList> table = {
        {QStringLiteral("f_calcjsfee"),
         {QStringLiteral("Pi_FirstSite"), QStringLiteral("Pi_Dest"), QStringLiteral("Pi_FeeType"),
          QStringLiteral("Pi_PCS"), QStringLiteral("Pi_Weight"), QStringLiteral("Pi_BulkWeight"),
          QStringLiteral("Pi_FastType"), QStringLiteral("Pi_GoodsType"),
          QStringLiteral("Pi_SevrType"), QStringLiteral("Pi_TransType"),
          QStringLiteral("Pi_Finance"), QStringLiteral("Pi_OpSite"), QStringLiteral("Pi_CusName"),
          QStringLiteral("Pi_ValidTime"), QStringLiteral("Pi_sysid")}},
    };
    const auto it = table.constFind(name.toLower());
    return it == table.constEnd() ? nullptr : &it.value();
}

// ---- dates -------------------------------------------------------------------------------

QString canonicalDate(const QDateTime &value)
{
    return value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

namespace {
// "YYYY-MM-DD HH:MM:SS" exactly, as stored: read without the general parser.
bool parseFixed(const QString &t, QDateTime *out)
{
    if (t.size() != 19 || t.at(4) != QLatin1Char('-') || t.at(7) != QLatin1Char('-')
        || t.at(10) != QLatin1Char(' ') || t.at(13) != QLatin1Char(':') || t.at(16) != QLatin1Char(':'))
        return false;
    auto num = [&t](int from, int len, bool *ok) {
        int v = 0;
        for (int i = from; i < from + len; ++i) {
            const QChar c = t.at(i);
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                *ok = false;
            v = v * 10 + (c.unicode() - '0');
        }
        return v;
    };
    bool ok = true;
    const QDate d(num(0, 4, &ok), num(5, 2, &ok), num(8, 2, &ok));
    const QTime tm(num(11, 2, &ok), num(14, 2, &ok), num(17, 2, &ok));
    if (!ok || !d.isValid() || !tm.isValid())
        return false;
    *out = QDateTime(d, tm);
    return true;
}
} // namespace

bool parseCanonicalDate(const QString &text, QDateTime *out)
{
    if (parseFixed(text, out))
        return true;
    const QString t = text.trimmed();
    if (t.size() < 10 || t.at(4) != QLatin1Char('-') || t.at(7) != QLatin1Char('-'))
        return false;
    QDateTime dt;
    if (t.size() == 10) {
        dt = QDateTime(QDate::fromString(t, Qt::ISODate), QTime(0, 0));
    } else {
        QString s = t;
        s[10] = QLatin1Char('T');
        dt = QDateTime::fromString(s, Qt::ISODateWithMs);
        if (!dt.isValid())
            dt = QDateTime::fromString(s, Qt::ISODate);
    }
    if (!dt.isValid())
        return false;
    if (dt.timeSpec() != Qt::LocalTime)
        dt = QDateTime(dt.date(), dt.time());
    *out = dt;
    return true;
}

namespace {
struct FormatField
{
    QLatin1String token;
    int width;
    int slot; // 0 year, 1 month, 2 day, 3 hour24, 4 minute, 5 second, 6 hour12, 7 year2
};
const FormatField kFields[] = {
    {QLatin1String("YYYY"), 4, 0}, {QLatin1String("RRRR"), 4, 0}, {QLatin1String("HH24"), 2, 3},
    {QLatin1String("HH12"), 2, 6}, {QLatin1String("YY"), 2, 7},   {QLatin1String("RR"), 2, 7},
    {QLatin1String("MM"), 2, 1},   {QLatin1String("DD"), 2, 2},   {QLatin1String("HH"), 2, 6},
    {QLatin1String("MI"), 2, 4},   {QLatin1String("SS"), 2, 5},
};
} // namespace

bool parseOracleDate(const QString &text, const QString &format, QDateTime *out)
{
    int v[8] = {1900, 1, 1, 0, 0, 0, -1, -1};
    const QString fmt = format.toUpper();
    qsizetype fi = 0, ti = 0;
    const qsizetype tn = text.size();
    while (fi < fmt.size()) {
        const FormatField *field = nullptr;
        for (const FormatField &f : kFields) {
            if (fmt.mid(fi, f.token.size()) == f.token) {
                field = &f;
                break;
            }
        }
        if (!field) {
            // Punctuation in the format matches any (or no) punctuation in the text.
            ++fi;
            while (ti < tn && !text.at(ti).isLetterOrNumber())
                ++ti;
            continue;
        }
        fi += field->token.size();
        while (ti < tn && !text.at(ti).isLetterOrNumber())
            ++ti;
        int digits = 0, value = 0;
        while (ti < tn && digits < field->width && text.at(ti).isDigit()) {
            value = value * 10 + text.at(ti).digitValue();
            ++ti;
            ++digits;
        }
        if (digits == 0)
            return false;
        v[field->slot] = value;
    }
    while (ti < tn && text.at(ti).isSpace())
        ++ti;
    if (ti != tn)
        return false;
    if (v[7] >= 0)
        v[0] = v[7] < 50 ? 2000 + v[7] : 1900 + v[7];
    if (v[6] >= 0)
        v[3] = v[6] % 12;
    const QDate d(v[0], v[1], v[2]);
    const QTime t(v[3], v[4], v[5]);
    if (!d.isValid() || !t.isValid())
        return false;
    *out = QDateTime(d, t);
    return true;
}

QString formatOracleDate(const QDateTime &value, const QString &format)
{
    const QString fmt = format.toUpper();
    QString out;
    qsizetype fi = 0;
    while (fi < fmt.size()) {
        const FormatField *field = nullptr;
        for (const FormatField &f : kFields) {
            if (fmt.mid(fi, f.token.size()) == f.token) {
                field = &f;
                break;
            }
        }
        if (!field) {
            out += format.at(fi);
            ++fi;
            continue;
        }
        fi += field->token.size();
        int n = 0;
        switch (field->slot) {
        case 0: n = value.date().year(); break;
        case 1: n = value.date().month(); break;
        case 2: n = value.date().day(); break;
        case 3: n = value.time().hour(); break;
        case 4: n = value.time().minute(); break;
        case 5: n = value.time().second(); break;
        case 6: n = value.time().hour() % 12 == 0 ? 12 : value.time().hour() % 12; break;
        case 7: n = value.date().year() % 100; break;
        }
        out += QStringLiteral("%1").arg(n, field->width, 10, QLatin1Char('0'));
    }
    return out;
}

} // namespace server
