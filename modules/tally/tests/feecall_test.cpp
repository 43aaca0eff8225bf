// The fee calls of the three finance edit windows as the server receives them: a relay
// between window and server keeps every request, so each of the fifteen values is checked
// where it arrives. Test fee rules keyed on every value the fee function reads (finance
// centre, first site, destination, goods type, weight band, pieces, validity, deployment
// and fee type) make a wrong or swapped value change the fee that ends up in the table.
#include "modules/tally/tests/tallyfixture.h"

#include "baseforms/dbgrideh.h"
#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfpfedt.h"
#include "tests/support/wiretap.h"

#include <QCborMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QCborValue>
#include <QDateTimeEdit>
#include <QTest>
#include <QToolButton>

using namespace tally;
using namespace tally::test;

namespace {

// Scanned / created in March 2025, so a call that sends "now" instead misses every test rule.
const QDateTime kWhen(QDate(2025, 3, 10), QTime(9, 30, 15));

class FeeCalls : public TallyServer
{
protected:
    void SetUp() override
    {
        TallyServer::SetUp();
        tap = std::make_unique<testsupport::WireTap>(s_srv->http->port());
        ASSERT_GT(tap->port(), 0);
        m_conn.SetPort(tap->port());
    }
    void TearDown() override
    {
        s_srv->native(QStringLiteral("delete from TAB_FEERULE where RULEID between 9100 and 9199"));
        for (const char *table : {"TAB_DFKRECORD", "TAB_DFPFRECORD"})
            s_srv->native(QStringLiteral("delete from ") + QLatin1String(table)
                          + QStringLiteral(" where BILLCODE like 'TF%'"));
        TallyServer::TearDown();
        tap.reset();
    }

    // A rule of `feeType` that applies only to exactly these keys, to weights of 2 up to 3 kg
    // and to March 2025: base, 2 per kilogram over 2 kg (charged by started half kilogram),
    // 1 per piece.
    static void rule(int id, const QString &feeType, const QString &finance, const QString &firstSite,
                     double base)
    {
        s_srv->native(QStringLiteral("insert into TAB_FEERULE (RULEID, FEETYPE, FINANCE, FIRSTSITE, DEST, "
                                     "GOODSTYPE, WEIGHTFROM, WEIGHTTO, BASEFEE, FIRSTWEIGHT, PERKG, PERPCS, "
                                     "MINFEE, VALIDFROM, VALIDTO, sysid) values "
                                     "(?, ?, ?, ?, '乌鲁木齐', '生鲜', 2, 3, ?, 2, 2, 1, 0, ?, ?, '001')"),
                      {id, feeType, finance, firstSite, base, QDateTime(QDate(2025, 3, 1), QTime(0, 0)),
                       QDateTime(QDate(2025, 3, 31), QTime(23, 59, 59))});
    }

    // The parameter maps of the fee calls the server received, in order.
    QList<QCborMap> feeCalls() const
    {
        QList<QCborMap> out;
        for (const auto &r : tap->requests()) {
            if (!r.path.contains("/provider/"))
                continue;
            const QCborMap body = QCborValue::fromCbor(r.body).toMap();
            const QString command = body.value(QStringLiteral("commandText")).toString();
            if (command.contains(QStringLiteral("F_CallBatch"))) {
                // A run's batch: a JSON list of calls, each [function, value 1, ... value 15].
                const QCborMap params = body.value(QStringLiteral("params")).toMap();
                const QJsonArray calls =
                    QJsonDocument::fromJson(params.value(QStringLiteral("1")).toString().toUtf8()).array();
                for (const QJsonValue &call : calls) {
                    const QJsonArray a = call.toArray();
                    if (a.first().toString() != QLatin1String("F_CalcJSFee"))
                        continue;
                    QCborMap m;
                    for (int n = 1; n < a.size(); ++n) {
                        const QJsonValue v = a.at(n);
                        const double d = v.toDouble();
                        m.insert(QString::number(n),
                                 v.isDouble() && n == 4 && d == qint64(d) ? QCborValue(qint64(d))
                                                                           : QCborValue::fromVariant(v.toVariant()));
                    }
                    out.append(m);
                }
            } else if (command.contains(QStringLiteral("F_CalcJSFee"))) {
                out.append(body.value(QStringLiteral("params")).toMap());
            }
        }
        return out;
    }

    // The text parameters a fee call should carry (1-based positions as F_CalcJSFee takes
    // them; the others empty): what differs between the windows' calls.
    struct CallTexts
    {
        QString firstSite, dest, feeType, fastType, goodsType, doorType, transport, centre, site;
    };
    static QStringList expectedTexts(const CallTexts &t)
    {
        QStringList texts(16);
        texts[1] = t.firstSite;
        texts[2] = t.dest;
        texts[3] = t.feeType;
        texts[7] = t.fastType;
        texts[8] = t.goodsType;
        texts[9] = t.doorType;
        texts[10] = t.transport;
        texts[11] = t.centre;
        texts[12] = t.site;
        texts[15] = QStringLiteral("001");
        return texts;
    }

    // The fifteen values of one call against what the window should have sent.
    static void expectCall(const QCborMap &call, const QStringList &texts, qint64 pcs, double weight,
                           const QDateTime &when)
    {
        EXPECT_EQ(call.size(), 15);
        const auto v = [&](int n) { return call.value(QString::number(n)); };
        for (int n : {1, 2, 3, 7, 8, 9, 10, 11, 12, 13, 15})
            EXPECT_EQ(v(n).toString(), texts.value(n)) << "parameter " << n;
        EXPECT_TRUE(v(4).isInteger()) << "the piece count goes as an integer";
        EXPECT_EQ(v(4).toInteger(), pcs);
        EXPECT_DOUBLE_EQ(v(5).toDouble(), weight);
        EXPECT_DOUBLE_EQ(v(6).toDouble(), weight);
        const QDateTime sent = v(14).isDateTime() ? v(14).toDateTime()
                                                  : QDateTime::fromString(v(14).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_EQ(sent.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                  when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }

    static void march(TfFinanceEdit *w)
    {
        w->filters->dtB->setDateTime(QDateTime(QDate(2025, 3, 1), QTime(0, 0)));
        w->filters->dtE->setDateTime(QDateTime(QDate(2025, 3, 31), QTime(23, 59, 59)));
    }

    static void insertRecord(const char *table, const QString &bill, const QVariantMap &values)
    {
        insertRow(table, {{"BILLCODE", bill}, {"CREATETIME", kWhen}, {"sysid", QStringLiteral("001")}},
                  values);
    }

    std::unique_ptr<testsupport::WireTap> tap;
};

} // namespace

TEST_F(FeeCalls, CentreAccountLinesSendTheirOwnColumnsForEachFeeType)
{
    const QString station = QString::fromUtf16(kStation);
    // Each fee type has its own rule on the line's keys; the demo rules would give other fees.
    rule(9101, QStringLiteral("中转费"), QStringLiteral("上海中心"), QStringLiteral("P站"), 10);
    rule(9102, QStringLiteral("扫描费"), QStringLiteral("上海中心"), QStringLiteral("P站"), 20);
    rule(9103, QStringLiteral("派件费"), QStringLiteral("上海中心"), QStringLiteral("P站"), 30);
    rule(9104, QStringLiteral("其他费"), QStringLiteral("上海中心"), QStringLiteral("P站"), 40);
    const QVariantMap line{{"PRIORSTATIONCODE", QStringLiteral("P站")}, {"DEST", QStringLiteral("乌鲁木齐")},
                           {"PCS", 3}, {"WEIGHT", 2.3}, {"PRODUCTTYPE", QStringLiteral("特快")},
                           {"GOODSTYPE", QStringLiteral("生鲜")}, {"SERVICETYPE", QStringLiteral("门到门")},
                           {"TRANSMODE", QStringLiteral("航空")}, {"SCANTIME", kWhen},
                           {"SEND_SITE", QStringLiteral("寄件站")}, {"NEXTSTATIONCODE", QStringLiteral("下一站")}};
    insertLine(QStringLiteral("TF1"), QStringLiteral("a"), line);
    insertLine(QStringLiteral("TF1"), QStringLiteral("b"), line);
    auto *w = open<TfcenAccEdt>();
    march(w);
    w->boxes.edtSite->setText(station);
    w->executeAction(w->actQuery);
    ASSERT_EQ(w->cdsData->RecordCount(), 2);
    ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("SCANTYPE"), QStringLiteral("a")));

    tap->clear();
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton); // 单带: the focused line, four fee types
    const QList<QCborMap> calls = feeCalls();
    ASSERT_EQ(calls.size(), 4);
    QStringList types;
    for (const QCborMap &c : calls) {
        const QString type = c.value(QStringLiteral("3")).toString();
        types << type;
        expectCall(c,
                   expectedTexts({QStringLiteral("P站"), QStringLiteral("乌鲁木齐"), type, QStringLiteral("特快"),
                                  QStringLiteral("生鲜"), QStringLiteral("门到门"), QStringLiteral("航空"),
                                  QStringLiteral("上海中心"), station}),
                   3, 2.3, kWhen);
    }
    types.sort();
    QStringList all{QStringLiteral("中转费"), QStringLiteral("扫描费"), QStringLiteral("派件费"), QStringLiteral("其他费")};
    all.sort();
    EXPECT_EQ(types, all);

    // 批带 on the other line, then both read back from the server: 0.3 kg over the first
    // 2 kg is one started half kilogram (1), three pieces (3), on top of each rule's base.
    w->cdsData->Locate(QStringLiteral("SCANTYPE"), QStringLiteral("b"));
    w->DBGridData->selectRow(w->DBGridData->gridRow(w->cdsData->currentPosition()));
    QTest::mouseClick(w->tbCalcAll, Qt::LeftButton);
    EXPECT_EQ(feeCalls().size(), 8);
    w->executeAction(w->actSave);
    for (const char *scan : {"a", "b"}) {
        const QString s = QString::fromLatin1(scan);
        EXPECT_DOUBLE_EQ(stored(QStringLiteral("TF1"), s, QStringLiteral("AR_TRANS_FEE")).toDouble(), 14) << scan;
        EXPECT_DOUBLE_EQ(stored(QStringLiteral("TF1"), s, QStringLiteral("SCANMONEY")).toDouble(), 24) << scan;
        EXPECT_DOUBLE_EQ(stored(QStringLiteral("TF1"), s, QStringLiteral("AP_SEND_FEE")).toDouble(), 34) << scan;
        EXPECT_DOUBLE_EQ(stored(QStringLiteral("TF1"), s, QStringLiteral("OTHERCHARGE")).toDouble(), 44) << scan;
    }
}

TEST_F(FeeCalls, PayOnDeliveryRecordsSendTheirOwnColumnsAndOnePiece)
{
    const QVariantMap record{{"FIRSTSITE", QStringLiteral("上海闵行")}, {"FIRSTCENTER", QStringLiteral("上海中心")},
                             {"DEST", QStringLiteral("乌鲁木齐")}, {"WEIGHT", 2.3}, {"FASTTYPE", QStringLiteral("特快")},
                             {"GOODSTYPE", QStringLiteral("生鲜")}, {"MONEY", 100}, {"SIGNSITE", QStringLiteral("北京朝阳")},
                             {"SIGNCENTER", QStringLiteral("北京中心")}, {"JZPAYCHARGE", 9.99}, {"PZGETCHARGE", 9.99}};
    rule(9111, QStringLiteral("到付款手续费"), QStringLiteral("上海中心"), QStringLiteral("上海闵行"), 10);
    insertRecord("TAB_DFKRECORD", QStringLiteral("TF2"), record);
    insertRecord("TAB_DFKRECORD", QStringLiteral("TF3"), record);
    auto *w = open<TfDFKEdt>();
    march(w);
    w->boxes.edtJZSite->setText(QStringLiteral("上海闵行"));
    w->executeAction(w->actQuery);
    ASSERT_EQ(w->cdsData->RecordCount(), 2);
    tap->clear();
    w->executeAction(w->actSelAll);
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("操作完成!")});
    const QList<QCborMap> calls = feeCalls();
    ASSERT_EQ(calls.size(), 2);
    const QStringList texts = expectedTexts({QStringLiteral("上海闵行"), QStringLiteral("乌鲁木齐"),
                                             QStringLiteral("到付款手续费"), QStringLiteral("特快"), QStringLiteral("生鲜"),
                                             QString(), QString(), QStringLiteral("上海中心"), QStringLiteral("上海闵行")});
    for (const QCborMap &c : calls)
        expectCall(c, texts, 1, 2.3, kWhen);
    w->executeAction(w->actSave);
    // 10 + one started half kilogram + one piece, in both columns.
    for (const char *bill : {"TF2", "TF3"}) {
        EXPECT_DOUBLE_EQ(storedIn("TAB_DFKRECORD", QString::fromLatin1(bill), "JZPAYCHARGE").toDouble(), 12) << bill;
        EXPECT_DOUBLE_EQ(storedIn("TAB_DFKRECORD", QString::fromLatin1(bill), "PZGETCHARGE").toDouble(), 12) << bill;
    }
}

TEST_F(FeeCalls, DeliveryFeeRunPricesEveryMarkedRecordAndSavesIt)
{
    const QVariantMap record{{"FIRSTSITE", QStringLiteral("上海闵行")}, {"FIRSTCENTER", QStringLiteral("上海中心")},
                             {"DEST", QStringLiteral("乌鲁木齐")}, {"WEIGHT", 2.3}, {"FASTTYPE", QStringLiteral("标快")},
                             {"GOODSTYPE", QStringLiteral("生鲜")}, {"SIGNSITE", QStringLiteral("北京朝阳")},
                             {"SIGNCENTER", QStringLiteral("北京中心")}, {"ARRIVESITE", QStringLiteral("北京朝阳")},
                             {"JZPAYMONEY", 9.99}, {"PZGETMONEY", 9.99}};
    rule(9121, QStringLiteral("派件费"), QStringLiteral("上海中心"), QStringLiteral("上海闵行"), 20);
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TF4"), record);
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TF5"), record);
    QVariantMap other = record;
    other.insert(QStringLiteral("JZPAYMONEY"), 7.77);
    other.insert(QStringLiteral("PZGETMONEY"), 7.77);
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TF6"), other);
    auto *w = open<TfDFPFEdt>();
    march(w);
    w->boxes.edtJZSite->setText(QStringLiteral("上海闵行"));
    w->executeAction(w->actQuery);
    ASSERT_EQ(w->cdsData->RecordCount(), 3);
    tap->clear();
    for (const char *bill : {"TF4", "TF5"}) {
        ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("BILLCODE"), QString::fromLatin1(bill)));
        w->DBGridData->selectRow(w->DBGridData->gridRow(w->cdsData->currentPosition()));
    }
    QTest::mouseClick(w->tbCalc, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("操作完成!")});
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());
    const QList<QCborMap> calls = feeCalls();
    ASSERT_EQ(calls.size(), 2);
    const QStringList texts = expectedTexts({QStringLiteral("上海闵行"), QStringLiteral("乌鲁木齐"),
                                             QStringLiteral("派件费"), QStringLiteral("标快"), QStringLiteral("生鲜"),
                                             QString(), QString(), QStringLiteral("上海中心"), QStringLiteral("上海闵行")});
    for (const QCborMap &c : calls)
        expectCall(c, texts, 1, 2.3, kWhen);
    w->executeAction(w->actSave);
    for (const char *bill : {"TF4", "TF5"}) {
        EXPECT_DOUBLE_EQ(storedIn("TAB_DFPFRECORD", QString::fromLatin1(bill), "JZPAYMONEY").toDouble(), 22) << bill;
        EXPECT_DOUBLE_EQ(storedIn("TAB_DFPFRECORD", QString::fromLatin1(bill), "PZGETMONEY").toDouble(), 22) << bill;
    }
    EXPECT_DOUBLE_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TF6"), "JZPAYMONEY").toDouble(), 7.77);
}
