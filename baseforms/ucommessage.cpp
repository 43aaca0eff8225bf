#include "baseforms/ucommessage.h"

#include "baseforms/environment.h"
#include "host/dialogpresenter.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>

#include <opencc/DictEntry.hpp>
#include <opencc/MarisaDict.hpp>

#include <cstdio>
#include <memory>

Q_LOGGING_CATEGORY(lcMessages, "waylink.tessera.messages")

namespace tessera {

namespace {

// The character table of OpenCC (no phrase table, which could change the length).
class CharacterTable
{
public:
    CharacterTable()
    {
        const QByteArray path =
            QFile::encodeName(QStringLiteral("/usr/share/opencc/STCharacters.ocd2"));
        FILE *fp = std::fopen(path.constData(), "rb");
        if (!fp) {
            qCWarning(lcMessages, "OpenCC character table not found; no conversion");
            return;
        }
        try {
            m_dict = opencc::MarisaDict::NewFromFile(fp);
        } catch (const std::exception &e) {
            qCWarning(lcMessages, "OpenCC character table unreadable: %s", e.what());
        }
        std::fclose(fp);
    }

    // The traditional form of one code point, or the code point itself.
    char32_t map(char32_t c)
    {
        if (!m_dict || c < 0x2E80)
            return c;
        const auto it = m_cache.constFind(c);
        if (it != m_cache.constEnd())
            return *it;
        char32_t out = c;
        const QByteArray key = QString::fromUcs4(&c, 1).toUtf8();
        const auto entry = m_dict->Match(key.constData(), size_t(key.size()));
        if (!entry.IsNull()) {
            const QString value = QString::fromStdString(entry.Get()->GetDefault());
            const auto ucs = value.toUcs4();
            // Keep only one-to-one mappings that keep the UTF-16 width.
            if (ucs.size() == 1 &&
                QChar::requiresSurrogates(ucs[0]) == QChar::requiresSurrogates(c))
                out = ucs[0];
        }
        m_cache.insert(c, out);
        return out;
    }

private:
    std::shared_ptr<opencc::MarisaDict> m_dict;
    QHash<char32_t, char32_t> m_cache;
};

CharacterTable &characterTable()
{
    static CharacterTable table;
    return table;
}

QString localised(const QString &text)
{
    return screenTag() == 1 ? Cn2Big(text) : text;
}

host::Answer show(host::MessageKind kind, const QString &caption, const QString &msg)
{
    return host::dialogPresenter().showMessage(kind, localised(caption), localised(msg),
                                               host::QuestionButtons::YesNo);
}

} // namespace

QString Cn2Big(const QString &text)
{
    QString result;
    result.reserve(text.size());
    CharacterTable &table = characterTable();
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t cp = QChar::surrogateToUcs4(ch, text.at(i + 1));
            const char32_t mapped = table.map(cp);
            result += QString::fromUcs4(&mapped, 1);
            ++i;
            continue;
        }
        const char32_t mapped = table.map(ch.unicode());
        result += QChar(char16_t(mapped));
    }
    return result;
}

void HintDialog(const QString &msg, const QString &)
{
    show(host::MessageKind::Information, QStringLiteral("提示"), msg);
}

void WarningDialog(const QString &msg, const QString &)
{
    show(host::MessageKind::Warning, QStringLiteral("警告"), msg);
}

void ErrorDialog(const QString &msg, const QString &detail)
{
    // The detail (usually an exception's technical text) is folded away, not in the text.
    if (detail.isEmpty() || detail == msg) {
        show(host::MessageKind::Error, QStringLiteral("错误"), msg);
        return;
    }
    qCWarning(lcMessages).noquote() << msg << "|" << detail;
    host::dialogPresenter().showDetailedMessage(host::MessageKind::Error,
                                                localised(QStringLiteral("错误")), localised(msg),
                                                detail);
}

bool QuestionDialog(const QString &msg)
{
    return show(host::MessageKind::Question, QStringLiteral("询问"), msg) == host::Answer::Yes;
}

} // namespace tessera
