#include "modules/tally/financecalls.h"

#include "dataaccess/mydataset.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcTally)

namespace tally {

namespace {

QJsonValue jsonOf(const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QJsonValue(QJsonValue::Null);
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return QJsonValue(v.toDouble());
    default:
        return QJsonValue(v.toString());
    }
}

QVariant variantOf(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return v.toDouble();
    return QVariant();
}

// A value read as the function dataset shows it: a decimal as its decimal field does.
QString textOf(const QVariant &v)
{
    if (v.isNull())
        return QString();
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

QString lookupSeparator(int mode)
{
    return mode < 0 ? QStringLiteral(",") : QStringLiteral(",%1,").arg(mode);
}

} // namespace

QString ServerCall::json() const
{
    QJsonArray a{function};
    for (const QVariant &v : args)
        a.append(jsonOf(v));
    return QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact));
}

ServerCall lookupCall(const QString &bill, const Lookup &lookup, const QString &sysid)
{
    ServerCall c;
    c.function = lookup.function;
    c.args = {bill};
    if (lookup.mode >= 0)
        c.args.append(lookup.mode);
    c.args.append(sysid);
    c.failure = QStringLiteral("运单[%1]%2失败").arg(bill, lookup.what);
    c.advice = kAdviceLookupRefused;
    return c;
}

ServerCall feeCall(const QString &bill, const FeeArgs &a)
{
    ServerCall c;
    c.function = QStringLiteral("F_CalcJSFee");
    c.args = {a.firstSite, a.dest, a.feeType, a.pcs, a.weight, a.bulkWeight, a.fastType,
              a.goodsType, a.sevrType, a.transType, a.finance, a.opSite, a.cusName,
              a.validTime.isValid() ? QVariant(a.validTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                    : QVariant(),
              a.sysid};
    c.failure = QStringLiteral("运单[%1]的%2计算失败").arg(bill, a.feeType);
    c.advice = kAdviceFeeRefused;
    return c;
}

BatchAnswers parseBatchAnswers(const QString &text, int calls)
{
    BatchAnswers out;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        out.failedAt = 0;
        out.cause = QStringLiteral("the batch answer is no JSON array: %1").arg(text.left(200));
        return out;
    }
    const QJsonArray a = doc.array();
    for (const QJsonValue &v : a) {
        if (out.values.size() >= calls)
            break;
        if (v.isObject()) {
            out.failedAt = int(out.values.size());
            out.cause = v.toObject().value(QStringLiteral("error")).toString();
            return out;
        }
        out.values.append(variantOf(v));
    }
    if (out.values.size() < calls) {
        out.failedAt = int(out.values.size());
        out.cause = QStringLiteral("the server answered %1 of %2 calls").arg(out.values.size()).arg(calls);
    }
    return out;
}

QVariant FinanceCalls::answer(const ServerCall &call, const std::function<QVariant()> &single)
{
    if (!m_answers.isEmpty()) {
        const auto it = m_answers.constFind(call.json());
        if (it != m_answers.constEnd()) {
            if (it->failure)
                throw RunError(call.failure, it->failure->advice(), it->failure->details());
            return it->value;
        }
    }
    try {
        ++m_requests;
        return single();
    } catch (const std::exception &e) {
        qCWarning(lcTally).noquote() << call.json() << "failed:" << e.what();
        throw RunError(call.failure, kAdviceConnection, QString::fromUtf8(e.what()));
    }
}

QString FinanceCalls::lookup(const QString &bill, const Lookup &l, const QString &sysid)
{
    const QVariant v = answer(lookupCall(bill, l, sysid), [&] {
        m_tmp->Close();
        m_tmp->SetCommandText(lookupCallSql(l.function, bill, lookupSeparator(l.mode), sysid, l.resultName));
        m_tmp->ClearParams();
        m_tmp->Open();
        return QVariant(m_tmp->FieldByName(l.resultName)->AsString());
    });
    return textOf(v);
}

double FinanceCalls::fee(const QString &bill, const FeeArgs &a)
{
    using quillon::FieldType;
    const ServerCall call = feeCall(bill, a);
    const QVariant v = answer(call, [&] {
        m_tmp->Close();
        m_tmp->SetCommandText(feeCallSql());
        m_tmp->ClearParams();
        m_tmp->CreateParam(FieldType::String, QStringLiteral("1"), a.firstSite);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("2"), a.dest);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("3"), a.feeType);
        m_tmp->CreateParam(FieldType::Integer, QStringLiteral("4"), a.pcs);
        m_tmp->CreateParam(FieldType::Float, QStringLiteral("5"), a.weight);
        m_tmp->CreateParam(FieldType::Float, QStringLiteral("6"), a.bulkWeight);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("7"), a.fastType);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("8"), a.goodsType);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("9"), a.sevrType);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("10"), a.transType);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("11"), a.finance);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("12"), a.opSite);
        m_tmp->CreateParam(FieldType::String, QStringLiteral("13"), a.cusName);
        m_tmp->CreateParam(FieldType::DateTime, QStringLiteral("14"),
                           a.validTime.isValid() ? QVariant(a.validTime) : QVariant());
        m_tmp->CreateParam(FieldType::String, QStringLiteral("15"), a.sysid);
        m_tmp->Execute();
        const quillon::TField *fee = m_tmp->FieldByName(QStringLiteral("wResult"));
        return fee->IsNull() ? QVariant() : QVariant(fee->AsFloat());
    });
    // A fee the server did not give is not a fee of 0.
    if (v.isNull()) {
        qCWarning(lcTally).noquote() << call.json() << "gave no value";
        throw RunError(call.failure, kAdviceConnection, QStringLiteral("F_CalcJSFee gave no value"));
    }
    return v.toDouble();
}

void FinanceCalls::prefetch(const QList<ServerCall> &calls)
{
    m_answers.clear();
    QStringList texts;
    texts.reserve(calls.size());
    for (const ServerCall &c : calls)
        texts.append(c.json());
    // As few requests as the size limit allows; after a failure the rest is not asked for.
    qsizetype from = 0;
    while (from < calls.size()) {
        qsizetype to = from;
        qsizetype bytes = 2;
        while (to < calls.size() && (to == from || bytes + texts.at(to).size() * 3 < kMaxRequestBytes))
            bytes += texts.at(to++).size() * 3 + 1;
        if (!fetch(calls, texts, from, to))
            break;
        from = to;
    }
}

bool FinanceCalls::fetch(const QList<ServerCall> &calls, const QStringList &texts, qsizetype from,
                         qsizetype to)
{
    QString batch = QStringLiteral("[");
    for (qsizetype i = from; i < to; ++i) {
        if (i > from)
            batch += QLatin1Char(',');
        batch += texts.at(i);
    }
    batch += QLatin1Char(']');
    BatchAnswers answers;
    const int count = int(to - from);
    bool lost = false;
    try {
        ++m_requests;
        ++m_batchRequests;
        m_tmp->Close();
        m_tmp->SetCommandText(QStringLiteral("select F_CallBatch(:1) as wResult from dual"));
        m_tmp->ClearParams();
        m_tmp->CreateParam(quillon::FieldType::String, QStringLiteral("1"), batch);
        m_tmp->Open();
        answers = parseBatchAnswers(m_tmp->FieldByName(QStringLiteral("wResult"))->AsString(), count);
    } catch (const std::exception &e) {
        answers.failedAt = 0;
        answers.cause = QString::fromUtf8(e.what());
        lost = true;
    }
    m_tmp->Close();
    for (int i = 0; i < answers.values.size(); ++i)
        m_answers.insert(texts.at(from + i), Answer{answers.values.at(i), std::nullopt});
    if (answers.failedAt >= 0) {
        const ServerCall &c = calls.at(from + answers.failedAt);
        qCWarning(lcTally).noquote() << c.json() << "failed in a batch:" << answers.cause;
        // A lost request says nothing about the call; a call the server refused does.
        m_answers.insert(texts.at(from + answers.failedAt),
                         Answer{QVariant(), RunError(c.failure, lost ? kAdviceConnection : c.advice, answers.cause)});
        return false;
    }
    return true;
}

} // namespace tally
