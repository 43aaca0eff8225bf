#include "server/seed.h"

#include "server/auth.h"
#include "server/authz.h"
#include "server/oplog.h"
#include "server/seedclock.h"
#include "server/serverfunctions.h"
#include "server/sql/backend.h"

#include <QRandomGenerator>
#include <QStringList>

namespace server {

namespace {

struct Site
{
    const char *code;
    const char *name;
    const char *parent;
    const char *centre; // finance centre
    bool finance;
    const char *mdd;    // default dispatch destination
};

const Site kSites[] = {
    {"000", "总部", "", "总部", true, "上海"},
    {"100", "上海中心", "总部", "上海中心", true, "上海"},
    {"200", "北京中心", "总部", "北京中心", true, "北京"},
    {"300", "广州中心", "总部", "广州中心", true, "广州"},
    {"101", "上海浦东", "上海中心", "上海中心", false, "上海"},
    {"102", "上海闵行", "上海中心", "上海中心", false, "上海"},
    {"103", "杭州西湖", "上海中心", "上海中心", false, "杭州"},
    {"201", "北京朝阳", "北京中心", "北京中心", false, "北京"},
    {"202", "北京海淀", "北京中心", "北京中心", false, "北京"},
    {"203", "天津和平", "北京中心", "北京中心", false, "天津"},
    {"301", "广州天河", "广州中心", "广州中心", false, "广州"},
    {"302", "深圳南山", "广州中心", "广州中心", false, "深圳"},
};
constexpr int kFirstPlainSite = 4; // sites that take waybills (not centres)

const char *const kEmpNames[] = {"张伟", "王磊", "刘洋", "李娜", "陈静", "杨帆", "赵敏", "黄勇",
                                 "周杰", "吴芳", "徐强", "孙丽", "马超", "朱琳", "胡军", "郭婷",
                                 "何平", "高峰", "林华", "罗敏", "梁晨", "宋佳", "郑凯", "谢雨",
                                 "韩雪", "唐亮", "冯涛", "于洋", "董鹏", "萧然", "程龙", "曹颖",
                                 "袁野", "邓超", "许晴", "傅明"};

struct Mdd
{
    const char *code;
    const char *name;
    const char *province;
};
const Mdd kMdds[] = {
    {"SH", "上海", "上海"}, {"BJ", "北京", "北京"}, {"GZ", "广州", "广东"}, {"SZ", "深圳", "广东"},
    {"HZ", "杭州", "浙江"}, {"TJ", "天津", "天津"}, {"NJ", "南京", "江苏"}, {"CD", "成都", "四川"},
    {"WH", "武汉", "湖北"}, {"XA", "西安", "陕西"},
};

const char *const kGoods[] = {"文件", "物品", "生鲜", "电子产品", "服装"};
const char *const kFastTypes[] = {"标准快递", "次日达", "经济快递"};
const char *const kServiceTypes[] = {"门到门", "自提"};
const char *const kTransModes[] = {"陆运", "航空"};

struct MenuEntry
{
    const char *posid;
    const char *name;
    const char *func;
    int offline;
    const char *png;
};
const MenuEntry kMenu[] = {
    {"001.000.000", "公告", "", 1, "GG"},
    {"001.001.000", "公告管理", "", 1, ""},
    {"001.001.001", "公告发表", "px_Herald.fSendMessage", 0, ""},
    {"001.001.002", "公告查询", "px_Herald.fQueryMessage", 0, ""},
    {"001.001.003", "公告管理", "px_Herald.fManagerMessage", 0, ""},
    {"001.001.004", "公告阅读查询", "px_Herald.fReadQMessage", 0, ""},
    {"001.001.005", "未阅读公告", "px_Herald.fNoReadMessage", 0, ""},
    {"002.000.000", "财务", "", 1, "CW"},
    {"002.001.000", "中心账单", "", 1, ""},
    {"002.001.001", "中心账单管理", "px_Tally.fcenAccEdt", 0, ""},
    {"002.001.002", "中心账单查询", "px_Tally.fcenAccQuery", 0, ""},
    {"002.002.000", "到付款", "", 1, ""},
    {"002.002.001", "到付款管理", "px_Tally.fDFKEdt", 0, ""},
    {"002.002.002", "到付款查询", "px_Tally.fDFKQuery", 0, ""},
    {"002.003.000", "派件费", "", 1, ""},
    {"002.003.001", "派件费管理", "px_Tally.fDFPFEdt", 0, ""},
    {"002.003.002", "派件费查询", "px_Tally.fDFPFQuery", 0, ""},
    {"003.000.000", "系统设置", "", 1, "XT"},
    {"003.001.000", "系统工具", "", 1, ""},
    {"003.001.001", "界面风格", "px_Tuner.fStyleSet", 1, ""},
    {"003.001.002", "加密解密", "px_Tuner.fDEncrypt", 1, ""},
    {"003.001.003", "操作日志", "px_Tuner.fSysLog", 0, ""},
    {"003.001.004", "系统功能更新登记", "px_Tuner.fSysUpdate", 0, ""},
    {"004.000.000", "系统管理", "", 1, "RY"},
    {"004.001.000", "权限管理", "", 1, ""},
    {"004.001.001", "用户管理", "px_Warden.fUsers", 0, ""},
    {"004.001.002", "角色管理", "px_Warden.fRole", 0, ""},
    {"004.001.003", "级别管理", "px_Warden.fSites", 0, ""},
    {"004.001.004", "菜单管理", "px_Warden.fConfigMenu", 0, ""},
};

// Demo roles and the functions each grants; "*" stands for every function of the menu
// that a role may hold (the menu editor stays the super administrator's).
struct DemoRole
{
    const char *name;
    const char *remark;
    const char *rowScope; // "" every row, "SITE" the site's own rows of the scoped tables
    std::initializer_list<const char *> functions;
};
const DemoRole kRoles[] = {
    {"管理员", "全部功能，包括用户、角色和网点的管理", "", {"*"}},
    {"总部财务", "公告；财务的全部管理和查询；操作日志", "",
     {"px_Herald.fSendMessage", "px_Herald.fQueryMessage", "px_Herald.fReadQMessage",
      "px_Herald.fNoReadMessage", "px_Tally.fcenAccEdt", "px_Tally.fcenAccQuery",
      "px_Tally.fDFKEdt", "px_Tally.fDFKQuery", "px_Tally.fDFPFEdt", "px_Tally.fDFPFQuery",
      "px_Tuner.fStyleSet", "px_Tuner.fDEncrypt", "px_Tuner.fSysLog"}},
    {"网点财务", "公告；本网点到付款和派件费的管理，本网点中心账单查询", "SITE",
     {"px_Herald.fSendMessage", "px_Herald.fQueryMessage", "px_Herald.fNoReadMessage",
      "px_Tally.fcenAccQuery", "px_Tally.fDFKEdt", "px_Tally.fDFKQuery", "px_Tally.fDFPFEdt",
      "px_Tally.fDFPFQuery", "px_Tuner.fStyleSet", "px_Tuner.fDEncrypt"}},
    {"网点操作员", "公告的发表、查询和阅读", "SITE",
     {"px_Herald.fSendMessage", "px_Herald.fQueryMessage", "px_Herald.fNoReadMessage",
      "px_Tuner.fStyleSet"}},
};
// Which demo user holds which role.
const char *const kUserRoles[][2] = {
    {"001.admin", "管理员"}, {"001.li", "总部财务"}, {"001.zhang", "网点财务"}, {"001.wang", "网点操作员"}};

QString s(const char *t)
{
    return QString::fromUtf8(t);
}

// Fee rules: fee type, finance centre, first site, destination, goods, weight band,
// base fee, first weight, per kg, per piece, minimum.
struct Rule
{
    const char *type, *finance, *firstSite, *dest, *goods;
    double from;
    double to; // < 0: open
    double base, firstWeight, perKg, perPcs, minFee;
};
const Rule kRules[] = {
    {"中转费", "*", "*", "*", "*", 0, -1, 1.0, 1.0, 0.5, 0, 1.0},
    {"中转费", "北京中心", "*", "*", "*", 0, -1, 1.2, 1.0, 0.6, 0, 1.2},
    {"中转费", "*", "*", "*", "*", 30, -1, 8.0, 30, 0.4, 0, 8.0},
    {"扫描费", "*", "*", "*", "*", 0, -1, 0.1, 0, 0, 0.05, 0.1},
    {"派件费", "*", "*", "*", "*", 0, 30, 1.5, 3.0, 0.3, 0, 1.5},
    {"派件费", "*", "*", "*", "*", 30, -1, 5.0, 30, 0.2, 0, 5.0},
    {"派件费", "*", "*", "深圳", "*", 0, 30, 2.0, 3.0, 0.3, 0, 2.0},
    {"其他费", "*", "*", "*", "生鲜", 0, -1, 2.0, 0, 0, 0, 2.0},
    {"到付款手续费", "*", "*", "*", "*", 0, -1, 1.0, 0, 0, 0, 1.0},
};

// The finance tables are logged; the log holds what clerks of the centres changed and
// deleted over the last ten days, on real rows, written through the chain like the
// server's own entries.
void seedOperationLog(Connection &c, const QString &sysid, const QDateTime &now,
                      QRandomGenerator &rnd)
{
    const QStringList logged = {QStringLiteral("TAB_ACCOUNT"), QStringLiteral("TAB_DFKRECORD"),
                                QStringLiteral("TAB_DFPFRECORD")};
    for (const QString &tbl : logged)
        c.execute(QStringLiteral("insert into SYS_TABLES (TABLENAME, sysid) values (?,?)"),
                  {tbl, sysid});
    const QList<QVariantList> accounts =
        c.query(QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, WEIGHT, AR_TRANS_FEE, DEST, "
                               "NEXTSTATIONCODE from TAB_ACCOUNT where sysid=? order by BILLCODE "
                               "limit 120"),
                {sysid}, false)
            .rows;
    const QList<QVariantList> pods =
        c.query(QStringLiteral("select BILLCODE, MONEY, JZPAYCHARGE, SIGNSITE from TAB_DFKRECORD "
                               "where sysid=? order by BILLCODE limit 60"),
                {sysid}, false)
            .rows;
    const QList<QVariantList> fees =
        c.query(QStringLiteral("select BILLCODE, PZGETMONEY, WEIGHT from TAB_DFPFRECORD where "
                               "sysid=? order by BILLCODE limit 40"),
                {sysid}, false)
            .rows;
    auto v = [](const QVariant &x) { return OpLogWriter::displayValue(x); };
    struct Clerk
    {
        const char *site, *emp, *address;
    };
    const Clerk clerks[] = {{"上海中心", "陈静", "192.168.10.21"}, {"上海中心", "杨帆", "192.168.10.35"},
                            {"北京中心", "黄勇", "192.168.20.14"}, {"广州中心", "吴芳", "192.168.30.52"},
                            {"总部", "张伟", "10.0.0.8"}};
    QList<OpLogEntry> entries;
    const int total = 200;
    for (int i = 0; i < total; ++i) {
        OpLogEntry e;
        const Clerk &k = clerks[rnd.bounded(int(std::size(clerks)))];
        e.site = QString::fromUtf8(k.site);
        e.emp = QString::fromUtf8(k.emp);
        e.address = QString::fromLatin1(k.address);
        const bool del = rnd.bounded(8) == 0;
        e.opType = del ? QStringLiteral("DEL") : QStringLiteral("UPT");
        const int kind = rnd.bounded(10);
        if (kind < 6 && !accounts.isEmpty()) {
            const QVariantList &a = accounts.at(rnd.bounded(int(accounts.size())));
            e.tableName = QStringLiteral("TAB_ACCOUNT");
            e.key = a.at(0).toString();
            e.keys = {a.at(1).toString(), a.at(2).toString()};
            const double w = a.at(3).toDouble();
            if (del)
                e.content = QStringLiteral("删除记录: BILLCODE: %1; STATIONCODE: %2; SCANTYPE: %3; "
                                           "WEIGHT: %4; DEST: %5")
                                .arg(e.key, e.keys.at(0), e.keys.at(1), v(a.at(3)), v(a.at(5)));
            else if (kind < 3)
                e.content = QStringLiteral("WEIGHT: %1 -> %2; AR_TRANS_FEE: %3 -> %4")
                                .arg(v(a.at(3)), v(w + 0.5), v(a.at(4)), v(a.at(4).toDouble() + 0.3));
            else if (kind < 5)
                e.content = QStringLiteral("NEXTSTATIONCODE: %1 -> %2")
                                .arg(v(a.at(6)), QStringLiteral("北京中心"));
            else
                e.content = QStringLiteral("DEST: %1 -> 杭州").arg(v(a.at(5)));
        } else if (kind < 8 && !pods.isEmpty()) {
            const QVariantList &p = pods.at(rnd.bounded(int(pods.size())));
            e.tableName = QStringLiteral("TAB_DFKRECORD");
            e.key = p.at(0).toString();
            e.content = del ? QStringLiteral("删除记录: BILLCODE: %1; MONEY: %2").arg(e.key, v(p.at(1)))
                            : QStringLiteral("JZPAYCHARGE: %1 -> %2; SIGNSITE: %3 -> 北京朝阳")
                                  .arg(v(p.at(2)), v(p.at(2).toDouble() + 1.0), v(p.at(3)));
        } else if (!fees.isEmpty()) {
            const QVariantList &f = fees.at(rnd.bounded(int(fees.size())));
            e.tableName = QStringLiteral("TAB_DFPFRECORD");
            e.key = f.at(0).toString();
            e.content = del ? QStringLiteral("删除记录: BILLCODE: %1; WEIGHT: %2").arg(e.key, v(f.at(2)))
                            : QStringLiteral("PZGETMONEY: %1 -> %2")
                                  .arg(v(f.at(1)), v(f.at(1).toDouble() + 3.3));
        } else {
            continue;
        }
        // Working hours of the last ten days; today's entries lie before now.
        const int dayBack = 9 - i * 10 / total;
        QDateTime when = QDateTime(now.date().addDays(-dayBack), QTime(8, 30))
                             .addSecs(rnd.bounded(9 * 3600));
        if (when > now) {
            // Today: between the start of work (or midnight, early in the day) and now.
            QDateTime from(now.date(), QTime(8, 0));
            if (from > now)
                from = QDateTime(now.date(), QTime(0, 0));
            when = from.addSecs(rnd.bounded(int(std::max<qint64>(1, from.secsTo(now)))));
        }
        e.time = when;
        entries.append(e);
    }
    std::sort(entries.begin(), entries.end(),
              [](const OpLogEntry &a, const OpLogEntry &b) { return a.time < b.time; });
    appendOpLog(c, sysid, entries);
}

// System parameters: code, name, value, remark.
const char *const kParameters[][4] = {
    {"COMPANYNAME", "公司名称", "威联快递", "打印在报表和单据上"},
    {"SERVICEPHONE", "客服电话", "400-800-8888", ""},
    {"NOTICEDAYS", "公告有效天数", "30", "发表公告时默认的截止天数"},
    {"QUERYMAXDAYS", "查询最大天数", "31", "查询窗口一次可查的最长日期范围"},
    {"MAXWEIGHT", "单件最大重量(公斤)", "50", "超过时录入提示核对"},
    {"DFKRATE", "到付款手续费率(%)", "1.0", ""},
    {"ACCOUNTDAY", "每月结账日", "25", "中心账单按此日结账"},
};

void seedParameters(Connection &c, const QString &sysid, const QDateTime &when)
{
    for (const auto &p : kParameters)
        c.execute(QStringLiteral("insert into TAB_PARAMETER (PARAMCODE, PARAMNAME, PARAMVALUE, "
                                 "REMARK, MODIFYEMP, MODIFYTIME, sysid) values (?,?,?,?,?,?,?)"),
                  {QString::fromUtf8(p[0]), QString::fromUtf8(p[1]), QString::fromUtf8(p[2]),
                   QString::fromUtf8(p[3]), QStringLiteral("张伟"), when, sysid});
}

} // namespace

void seedDemo(Connection &c, const SeedOptions &o)
{
    const QString sysid = QString::fromLatin1(kDemoSysid);
    if (!c.query(QStringLiteral("select 1 from tab_Site where sysid=?"), {sysid}, true).rows.isEmpty())
        throw DbError(QStringLiteral("the database already holds the demo data"));

    QRandomGenerator rnd(o.randomSeed);
    auto pick = [&rnd](auto &array) -> decltype(auto) {
        return array[rnd.bounded(int(std::size(array)))];
    };
    auto money = [&rnd](double lo, double hi) {
        return std::round((lo + rnd.generateDouble() * (hi - lo)) * 100.0) / 100.0;
    };
    const QDateTime now = o.now;
    const QDateTime today(now.date(), QTime(0, 0));

    Transaction t(c);

    for (const Site &st : kSites)
        c.execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, BELONGSITE, SITETYPE, "
                                 "FINANCECENTER, ISFINANCE, FBTYPE, DEFAULTMDD, sysid) "
                                 "values (?,?,?,?,?,?,?,?,?)"),
                  {s(st.code), s(st.name), s(st.parent),
                   st.finance ? QStringLiteral("财务中心") : QStringLiteral("网点"), s(st.centre),
                   st.finance ? 1 : 0, st.finance ? QStringLiteral("1") : QStringLiteral("2"),
                   s(st.mdd), sysid});

    // Three employees per site; the first of each site is also a user.
    int e = 0;
    for (const Site &st : kSites) {
        for (int k = 1; k <= 3; ++k) {
            const QString name = s(kEmpNames[e % std::size(kEmpNames)]);
            c.execute(QStringLiteral("insert into tab_Employee (EmpCode, EmpName, BELONGSITE, POST, "
                                     "sysid) values (?,?,?,?,?)"),
                      {QString(s(st.code) + QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0'))), name,
                       s(st.name), k == 1 ? QStringLiteral("站长") : QStringLiteral("业务员"), sysid});
            ++e;
        }
    }
    for (const Mdd &m : kMdds)
        c.execute(QStringLiteral("insert into tab_Mdd (MddCode, MddName, PROVINCE, sysid) "
                                 "values (?,?,?,?)"),
                  {s(m.code), s(m.name), s(m.province), sysid});
    for (int g = 0; g < int(std::size(kGoods)); ++g)
        c.execute(QStringLiteral("insert into tab_GoodsType (Code, Cname, sysid) values (?,?,?)"),
                  {QString::number(g + 1), s(kGoods[g]), sysid});

    // Users: the super administrator and one user per kind of site.
    const QString pw = QString::fromLatin1(kDemoPassword);
    addUser(c, QStringLiteral("dk"), pw, QStringLiteral("000"), QStringLiteral("超级管理员"), o.fastHash);
    addUser(c, QStringLiteral("001.admin"), pw, QStringLiteral("000"), QStringLiteral("张伟"), o.fastHash);
    addUser(c, QStringLiteral("001.li"), pw, QStringLiteral("100"), QStringLiteral("陈静"), o.fastHash);
    addUser(c, QStringLiteral("001.zhang"), pw, QStringLiteral("101"), QStringLiteral("马超"), o.fastHash);
    addUser(c, QStringLiteral("001.wang"), pw, QStringLiteral("201"), QStringLiteral("宋佳"), o.fastHash);
    c.execute(QStringLiteral("update sys_user set sysid='dk' where USERCODE='dk'"));

    for (const QString &menuSysid : {sysid, QStringLiteral("dk")})
        for (const MenuEntry &m : kMenu)
            c.execute(QStringLiteral("insert into sys_menu (POSID, MENUNAME, FUNCNAME, ORGANLEVEL, "
                                     "SHORTCUT, OFFLINEENABLED, PNGNAME, sysid) "
                                     "values (?,?,?,?,?,?,?,?)"),
                      {s(m.posid), s(m.name), s(m.func), QStringLiteral("1"), QString(), m.offline,
                       s(m.png), menuSysid});

    // Roles, their grants and the tables that each function may write.
    seedFunctionTables(c, sysid);
    for (const DemoRole &r : kRoles) {
        c.execute(QStringLiteral("insert into sys_role (ROLENAME, REMARK, ROWSCOPE, sysid) "
                                 "values (?,?,?,?)"),
                  {s(r.name), s(r.remark), s(r.rowScope), sysid});
        QStringList functions;
        for (const char *f : r.functions) {
            if (QLatin1String(f) != QLatin1String("*")) {
                functions.append(s(f));
                continue;
            }
            for (const MenuEntry &m : kMenu)
                if (*m.func && QLatin1String(m.func) != QLatin1String(kMenuFunction))
                    functions.append(s(m.func));
            functions.append(QString::fromLatin1(kParamFunction));
        }
        for (const QString &f : std::as_const(functions))
            c.execute(QStringLiteral("insert into sys_rolegrant (ROLENAME, FUNCNAME, sysid) "
                                     "values (?,?,?)"),
                      {s(r.name), f, sysid});
    }
    for (const auto &ur : kUserRoles)
        setUserRoles(c, s(ur[0]), sysid, {s(ur[1])});

    int ruleId = 1;
    for (const Rule &r : kRules)
        c.execute(QStringLiteral("insert into TAB_FEERULE (RULEID, FEETYPE, FINANCE, FIRSTSITE, DEST, "
                                 "GOODSTYPE, WEIGHTFROM, WEIGHTTO, BASEFEE, FIRSTWEIGHT, PERKG, "
                                 "PERPCS, MINFEE, sysid) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                  {ruleId++, s(r.type), s(r.finance), s(r.firstSite), s(r.dest), s(r.goods), r.from,
                   r.to < 0 ? QVariant() : QVariant(r.to), r.base, r.firstWeight, r.perKg,
                   r.perPcs, r.minFee, sysid});

    // Notices: twelve over the last fifteen days, to sites and to single employees.
    const QStringList plainSites = [] {
        QStringList l;
        for (int i = kFirstPlainSite; i < int(std::size(kSites)); ++i)
            l.append(s(kSites[i].name));
        return l;
    }();
    const int offsets[] = {0, 0, 1, 2, 3, 5, 7, 9, 10, 11, 13, 15};
    for (int i = 0; i < int(std::size(offsets)); ++i) {
        // Today's notices went out at nine, or just before the seeding when that is earlier.
        const QDateTime when = notAfter(today.addDays(-offsets[i]).addSecs(9 * 3600 + i * 60),
                                        now.addSecs(-(20 - i) * 60));
        const QString id = when.toString(QStringLiteral("yyyyMMddHHmmss")) + QString::number(1000 + i);
        c.execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, MSGFILE, "
                                 "MSGTYPE, OPTIME, OPSITE, OPEMP, CLOSEDATE, sysid) "
                                 "values (?,?,?,?,?,?,?,?,?,?)"),
                  {id, QStringLiteral("通知第%1号").arg(i + 1),
                   QStringLiteral("各网点：请按时完成第%1期对账工作。").arg(i + 1), QString(),
                   i % 2 ? QStringLiteral("普通") : QStringLiteral("必读"), when, s(kSites[0].name),
                   QStringLiteral("张伟"), when.addDays(30), sysid});
        QStringList targets;
        if (i % 3 == 0)
            targets = plainSites;
        else if (i % 3 == 1)
            targets = {QStringLiteral("上海浦东")};
        else
            targets = {QStringLiteral("北京朝阳"), QStringLiteral("上海浦东")};
        for (const QString &site : std::as_const(targets))
            c.execute(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, HASREAD, sysid) "
                                     "values (?,?,?,?,?)"),
                      {id, site, when, QStringLiteral("0"), sysid});
        if (i % 4 == 1)
            c.execute(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, MSGTime, "
                                     "HASREAD, sysid) values (?,?,?,?,?,?)"),
                      {id, QStringLiteral("马超"), QStringLiteral("上海浦东"), when, QStringLiteral("0"),
                       sysid});
        if (i % 4 == 3)
            c.execute(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, MSGTime, "
                                     "HASREAD, sysid) values (?,?,?,?,?,?)"),
                      {id, QStringLiteral("宋佳"), QStringLiteral("北京朝阳"), when, QStringLiteral("0"),
                       sysid});
        if (i % 5 == 0)
            c.execute(QStringLiteral("insert into TAB_MSGREAD (MSGID, MSGReadSite, MSGReader, "
                                     "MSGReadTime, sysid) values (?,?,?,?,?)"),
                      {id, QStringLiteral("上海浦东"), QStringLiteral("马超"), notAfter(when.addSecs(3600), now),
                       sysid});
    }

    // Waybill numbers are issued to sites in blocks of 100.
    const int blocks = o.waybills / 100 + 1;
    auto issueSiteIndex = [](int bill) { return kFirstPlainSite + (bill / 100) % (int(std::size(kSites)) - kFirstPlainSite); };
    auto billCode = [](int n) { return QStringLiteral("66%1").arg(n, 10, 10, QLatin1Char('0')); };
    for (int b = 0; b < blocks; ++b)
        c.execute(QStringLiteral("insert into TAB_BILLISSUE (BILLSTART, BILLEND, SITENAME, ISSUETIME, "
                                 "sysid) values (?,?,?,?,?)"),
                  {billCode(b * 100), billCode(b * 100 + 99), s(kSites[issueSiteIndex(b * 100)].name),
                   today.addDays(-40), sysid});

    auto siteForMdd = [&](const QString &mdd) -> const Site & {
        for (int i = kFirstPlainSite; i < int(std::size(kSites)); ++i)
            if (mdd == s(kSites[i].mdd))
                return kSites[i];
        return kSites[kFirstPlainSite + rnd.bounded(int(std::size(kSites)) - kFirstPlainSite)];
    };

    for (int n = 0; n < o.waybills; ++n) {
        const QString bill = billCode(n);
        const Site &issued = kSites[issueSiteIndex(n)];
        const Site &send = rnd.bounded(10) == 0
                               ? kSites[kFirstPlainSite
                                        + rnd.bounded(int(std::size(kSites)) - kFirstPlainSite)]
                               : issued;
        const Mdd &mdd = pick(kMdds);
        const Site &dest = siteForMdd(s(mdd.name));
        const double weight = money(0.2, n % 50 == 0 ? 45.0 : 20.0);
        const int pcs = 1 + rnd.bounded(3);
        const QString goods = s(pick(kGoods));
        const QString fast = s(pick(kFastTypes));
        // A tenth of the waybills are the newest (their last event today); the rest spread
        // over thirty days.
        const int dayBack = n % 10 == 0 ? 0 : rnd.bounded(30);
        const QDateTime planned = today.addDays(-dayBack).addSecs(8 * 3600 + rnd.bounded(10 * 3600));
        const bool signedFor = rnd.bounded(10) < 7;
        const qint64 signAfter = 26 * 3600 + rnd.bounded(20 * 3600);
        // Events from the pick-up half an hour before to the delivery scan a day after and
        // the signature; a chain that would end after now happened earlier.
        const EventChain chain(planned, -1800, std::max<qint64>(24 * 3600, signedFor ? signAfter : 0), now,
                               today.addDays(-40));
        const QDateTime created = chain.start();
        const QDateTime signTime = chain.at(signAfter);
        const QString signer = s(pick(kEmpNames));
        const double pod = rnd.bounded(10) < 3 ? money(20, 500) : 0;

        c.execute(QStringLiteral("insert into TAB_WAYBILL (BILLCODE, SENDSITE, DEST, WEIGHT, PCS, "
                                 "GOODSTYPE, FASTTYPE, MONEY, CREATETIME, sysid) "
                                 "values (?,?,?,?,?,?,?,?,?,?)"),
                  {bill, s(send.name), s(mdd.name), weight, pcs, goods, fast,
                   pod > 0 ? QVariant(pod) : QVariant(), created, sysid});
        c.execute(QStringLiteral("insert into TAB_PICKUP (BILLCODE, SITENAME, EMPNAME, WEIGHT, "
                                 "PICKTIME, sysid) values (?,?,?,?,?,?)"),
                  {bill, s(send.name), s(pick(kEmpNames)), money(weight * 0.9, weight),
                   chain.at(-1800), sysid});
        c.execute(QStringLiteral("insert into TAB_BILLENTRY (BILLCODE, SENDSITE, DEST, WEIGHT, "
                                 "GOODSTYPE, ENTRYTIME, sysid) values (?,?,?,?,?,?,?)"),
                  {bill, s(send.name), s(mdd.name), weight, goods, created, sysid});
        const struct
        {
            const char *type;
            const Site *site;
            int hours;
        } scans[] = {{"收件", &send, 0}, {"发件", &send, 3}, {"到件", &dest, 20}, {"派件", &dest, 24}};
        for (const auto &sc : scans)
            c.execute(QStringLiteral("insert into TAB_SCAN (BILLCODE, SITENAME, SCANTYPE, WEIGHT, "
                                     "SCANTIME, sysid) values (?,?,?,?,?,?)"),
                      {bill, s(sc.site->name), s(sc.type), money(weight * 0.95, weight * 1.1),
                       chain.at(sc.hours * 3600), sysid});
        if (signedFor)
            c.execute(QStringLiteral("insert into TAB_SIGN (BILLCODE, SIGNSITE, SIGNPERSON, SIGNTIME, "
                                     "sysid) values (?,?,?,?,?)"),
                      {bill, s(dest.name), signer, signTime, sysid});

        // Account lines: the sending site's pick-up and the destination site's delivery.
        const bool missingRoute = n % 10 == 3; // lines that the refresh can repair
        const struct
        {
            const Site *station;
            const char *scanType;
            QString prior, next;
            int hours;
        } lines[] = {{&send, "收件", QString(), s(send.centre), 0},
                     {&dest, "派件", s(send.centre), QString(), 24}};
        for (const auto &l : lines) {
            if (l.station == &send && &send == &dest && l.hours)
                continue; // same site: one line
            c.execute(QStringLiteral(
                          "insert into TAB_ACCOUNT (BILLCODE, SEND_SITE, STATIONCODE, PCS, WEIGHT, DEST, "
                          "GOODSTYPE, PRODUCTTYPE, SERVICETYPE, SCANTYPE, TRANSMODE, PRIORSTATIONCODE, "
                          "NEXTSTATIONCODE, AR_TRANS_FEE, AP_SEND_FEE, SCANMONEY, OTHERCHARGE, "
                          "FINANCECENTER, PRIORFINANCE, NEXTFINANCE, SCANTIME, INPUTDATE, SIGNED, "
                          "SIGNPERSON, SIGNDATE, SIGNSITE, sysid) values "
                          "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                      {bill, missingRoute ? QVariant() : QVariant(s(send.name)), s(l.station->name),
                       pcs, weight, missingRoute ? QVariant() : QVariant(s(mdd.name)), goods, fast,
                       s(pick(kServiceTypes)), s(l.scanType), s(pick(kTransModes)),
                       l.prior.isEmpty() ? QVariant() : QVariant(l.prior),
                       l.next.isEmpty() ? QVariant() : QVariant(l.next), 0.0, 0.0, 0.0, 0.0,
                       s(l.station->centre), l.prior.isEmpty() ? QVariant() : QVariant(l.prior),
                       l.next.isEmpty() ? QVariant() : QVariant(l.next),
                       chain.at(l.hours * 3600), created, signedFor ? 1 : 0,
                       signedFor ? QVariant(signer) : QVariant(),
                       signedFor ? QVariant(signTime) : QVariant(),
                       signedFor ? QVariant(s(dest.name)) : QVariant(), sysid});
        }
        if (pod > 0)
            c.execute(QStringLiteral(
                          "insert into TAB_DFKRECORD (BILLCODE, FIRSTSITE, FIRSTCENTER, DEST, WEIGHT, "
                          "MONEY, JZPAYCHARGE, PZGETCHARGE, SIGNSITE, SIGNTIME, SIGNCENTER, SIGNFLAG, "
                          "GOODSTYPE, FASTTYPE, SENDCSITE, SENDCTIME, ARRIVECSITE, ARRIVECTIME, "
                          "CONSIGNEMP, DELVEMP, CREATETIME, sysid) values "
                          "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                      {bill, s(send.name), s(send.centre), s(mdd.name), weight, pod, 0.0, 0.0,
                       signedFor ? QVariant(s(dest.name)) : QVariant(),
                       signedFor ? QVariant(signTime) : QVariant(),
                       signedFor ? QVariant(s(dest.centre)) : QVariant(), signedFor ? 1 : 0, goods,
                       fast, s(send.centre), chain.at(3 * 3600), s(dest.centre),
                       chain.at(20 * 3600), s(pick(kEmpNames)), s(pick(kEmpNames)), created,
                       sysid});
        if (signedFor && rnd.bounded(2) == 0)
            c.execute(QStringLiteral(
                          "insert into TAB_DFPFRECORD (BILLCODE, FIRSTSITE, FIRSTCENTER, DEST, WEIGHT, "
                          "JZPAYMONEY, PZGETMONEY, GOODSTYPE, FASTTYPE, ARRIVETIME, ARRIVESITE, "
                          "SIGNTIME, SIGNSITE, SIGNFLAG, DELEVEMP, SIGNCENTER, PZGETFLAG, JZPAYFLAG, "
                          "CREATETIME, sysid) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                      {bill, missingRoute ? QVariant() : QVariant(s(send.name)), s(send.centre),
                       missingRoute ? QVariant() : QVariant(s(mdd.name)), weight, 0.0, 0.0, goods,
                       fast, chain.at(20 * 3600), s(dest.name), signTime, s(dest.name), 1,
                       signer, s(dest.centre), 0, 0, created, sysid});
    }

    seedOperationLog(c, sysid, now, rnd);
    const char *const dlls[] = {"px_Herald.dll", "px_Tally.dll", "px_Tuner.dll", "Waylink.exe"};
    for (int i = 0; i < 8; ++i)
        c.execute(QStringLiteral("insert into sys_update (id, utheme, udllname, ucontent, utime, uemp, "
                                 "UVERSION, UPATH, UFLAG, sysid) values (?,?,?,?,?,?,?,?,?,?)"),
                  {100000 + i, QStringLiteral("功能更新%1").arg(i + 1), s(dlls[i % 4]),
                   QStringLiteral("修正若干问题。\r\n提高查询速度。"),
                   notAfter(today.addDays(-(i * 3)).addSecs(10 * 3600), now), QStringLiteral("张伟"),
                   QStringLiteral("1.0.%1").arg(i), QString(QStringLiteral("update\\") + s(dlls[i % 4])),
                   i % 2 ? QStringLiteral("1") : QStringLiteral("0"), sysid});
    seedParameters(c, sysid, today.addDays(-30).addSecs(9 * 3600));
    t.commit();
}

} // namespace server
