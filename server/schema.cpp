#include "server/schema.h"

#include "server/authz.h"
#include "server/filearea.h"
#include "server/noticerules.h"
#include "server/oplog.h"
#include "server/sharedstate.h"
#include "server/sql/backend.h"

#include <QRegularExpression>
#include <sodium.h>

namespace server {

int schemaVersion()
{
    // 2: request ids of ApplyData, shared log-on counters, file areas in the database.
    return 2;
}

namespace {
// Column types follow the Oracle schema: VARCHAR2(n) for texts, NUMBER(p,s) for decimals,
// INTEGER for counts and flags, DATE for date-times (stored as "YYYY-MM-DD HH:MM:SS").
const char *const kSchema = R"SQL(
create table if not exists dual (DUMMY VARCHAR2(1));
insert into dual select 'X' where not exists (select 1 from dual);

create table if not exists sys_server (
  NAME VARCHAR2(40) primary key,
  VALUE BLOB);

create table if not exists tab_Site (
  SiteCode VARCHAR2(20) not null,
  SiteName VARCHAR2(50) not null,
  BELONGSITE VARCHAR2(50),
  SITETYPE VARCHAR2(20),
  FINANCECENTER VARCHAR2(50),
  ISFINANCE INTEGER default 0,
  FBTYPE VARCHAR2(20),
  DEFAULTMDD VARCHAR2(50),
  PHONE VARCHAR2(30),
  sysid VARCHAR2(3) not null,
  primary key (SiteCode, sysid));
create index if not exists ix_site_name on tab_Site (SiteName, sysid);

create table if not exists tab_Employee (
  EmpCode VARCHAR2(20) not null,
  EmpName VARCHAR2(30) not null,
  BELONGSITE VARCHAR2(50),
  POST VARCHAR2(20),
  sysid VARCHAR2(3) not null,
  primary key (EmpCode, sysid));

create table if not exists tab_Mdd (
  MddCode VARCHAR2(20) not null,
  MddName VARCHAR2(50) not null,
  PROVINCE VARCHAR2(30),
  sysid VARCHAR2(3) not null,
  primary key (MddCode, sysid));

create table if not exists tab_GoodsType (
  Code VARCHAR2(10) not null,
  Cname VARCHAR2(30) not null,
  sysid VARCHAR2(3) not null,
  primary key (Code, sysid));

create table if not exists sys_user (
  USERCODE VARCHAR2(40) primary key,
  SITECODE VARCHAR2(20) not null,
  EMPCODE VARCHAR2(20),
  EMPNAME VARCHAR2(30) not null,
  PWHASH VARCHAR2(200) not null,
  ENABLED INTEGER default 1,
  sysid VARCHAR2(3) not null,
  CREATETIME DATE,
  TOKENGEN INTEGER default 0);

create table if not exists sys_menu (
  POSID VARCHAR2(11) not null,
  MENUNAME VARCHAR2(40) not null,
  FUNCNAME VARCHAR2(60),
  ORGANLEVEL VARCHAR2(10),
  SHORTCUT VARCHAR2(20),
  OFFLINEENABLED INTEGER default 0,
  PNGNAME VARCHAR2(20),
  sysid VARCHAR2(3) not null,
  primary key (POSID, sysid));

create table if not exists TAB_MSGRECORD (
  MSGID VARCHAR2(30) not null,
  MSGOBJECT VARCHAR2(100),
  MSGCONTENT VARCHAR2(4000),
  MSGFILE VARCHAR2(400),
  MSGFILENAME VARCHAR2(260),
  MSGTYPE VARCHAR2(10),
  OPTIME DATE,
  OPSITE VARCHAR2(50),
  OPEMP VARCHAR2(30),
  CLOSEDATE DATE,
  sysid VARCHAR2(3) not null,
  primary key (MSGID, sysid));
create index if not exists ix_msg_time on TAB_MSGRECORD (OPTIME);
-- Who published, and to whom: the lists of one reader's own notices look them up so.
create index if not exists ix_msg_publisher on TAB_MSGRECORD (OPSITE, OPEMP, sysid);

create table if not exists TAB_MSGSITE (
  MSGID VARCHAR2(30) not null,
  MSGSITE VARCHAR2(50) not null,
  MSGTime DATE,
  HASREAD VARCHAR2(2),
  READTIME DATE,
  READEMP VARCHAR2(30),
  sysid VARCHAR2(3) not null,
  primary key (MSGID, MSGSITE, sysid));
create index if not exists ix_msgsite_site on TAB_MSGSITE (MSGSITE, sysid);

create table if not exists TAB_MSGEMP (
  MSGID VARCHAR2(30) not null,
  MSGEMP VARCHAR2(30) not null,
  MSGSITE VARCHAR2(50) not null,
  MSGTime DATE,
  HASREAD VARCHAR2(2),
  READTIME DATE,
  sysid VARCHAR2(3) not null,
  primary key (MSGID, MSGEMP, MSGSITE, sysid));
create index if not exists ix_msgemp_emp on TAB_MSGEMP (MSGEMP, MSGSITE, sysid);

create table if not exists TAB_MSGREAD (
  MSGID VARCHAR2(30) not null,
  MSGReadSite VARCHAR2(50) not null,
  MSGReader VARCHAR2(30) not null,
  MSGReadTime DATE,
  sysid VARCHAR2(3) not null,
  primary key (MSGID, MSGReadSite, MSGReader, sysid));
create index if not exists ix_msgread_reader on TAB_MSGREAD (MSGReader, MSGReadSite, sysid);

-- Server files whose rows were deleted, queued by the database's own rules in the deleting
-- transaction and removed by the server once that transaction has committed.
create table if not exists sys_filepurge (
  PATH VARCHAR2(400) not null,
  QUEUED DATE,
  sysid VARCHAR2(3) not null);

create table if not exists TAB_ACCOUNT (
  BILLCODE VARCHAR2(20) not null,
  SEND_SITE VARCHAR2(50),
  STATIONCODE VARCHAR2(50) not null,
  PCS INTEGER,
  WEIGHT NUMBER(10,2),
  DEST VARCHAR2(50),
  GOODSTYPE VARCHAR2(30),
  PRODUCTTYPE VARCHAR2(20),
  SERVICETYPE VARCHAR2(20),
  SCANTYPE VARCHAR2(20) not null,
  TRANSMODE VARCHAR2(20),
  PRIORSTATIONCODE VARCHAR2(50),
  NEXTSTATIONCODE VARCHAR2(50),
  AR_TRANS_FEE NUMBER(10,2),
  AP_SEND_FEE NUMBER(10,2),
  SCANMONEY NUMBER(10,2),
  OTHERCHARGE NUMBER(10,2),
  FINANCECENTER VARCHAR2(50),
  PRIORFINANCE VARCHAR2(50),
  NEXTFINANCE VARCHAR2(50),
  SCANTIME DATE,
  INPUTDATE DATE,
  SIGNED INTEGER,
  SIGNPERSON VARCHAR2(30),
  SIGNDATE DATE,
  SIGNSITE VARCHAR2(50),
  sysid VARCHAR2(3) not null,
  primary key (BILLCODE, STATIONCODE, SCANTYPE, sysid));
create index if not exists ix_account_time on TAB_ACCOUNT (SCANTIME);

create table if not exists TAB_DFKRECORD (
  BILLCODE VARCHAR2(20) not null,
  FIRSTSITE VARCHAR2(50),
  FIRSTCENTER VARCHAR2(50),
  DEST VARCHAR2(50),
  WEIGHT NUMBER(10,2),
  MONEY NUMBER(12,2),
  JZPAYCHARGE NUMBER(10,2),
  PZGETCHARGE NUMBER(10,2),
  SIGNSITE VARCHAR2(50),
  SIGNTIME DATE,
  SIGNCENTER VARCHAR2(50),
  SIGNFLAG INTEGER,
  GOODSTYPE VARCHAR2(30),
  FASTTYPE VARCHAR2(20),
  QUESTIME DATE,
  QUESSITE VARCHAR2(50),
  QUESEMP VARCHAR2(30),
  QUESRESON VARCHAR2(200),
  SENDCSITE VARCHAR2(50),
  SENDCTIME DATE,
  ARRIVECSITE VARCHAR2(50),
  ARRIVECTIME DATE,
  CONSIGNEMP VARCHAR2(30),
  DELVEMP VARCHAR2(30),
  CREATETIME DATE,
  REMARK VARCHAR2(200),
  sysid VARCHAR2(3) not null,
  primary key (BILLCODE, sysid));
create index if not exists ix_dfk_time on TAB_DFKRECORD (CREATETIME);

create table if not exists TAB_DFPFRECORD (
  BILLCODE VARCHAR2(20) not null,
  FIRSTSITE VARCHAR2(50),
  FIRSTCENTER VARCHAR2(50),
  DEST VARCHAR2(50),
  WEIGHT NUMBER(10,2),
  JZPAYMONEY NUMBER(10,2),
  PZGETMONEY NUMBER(10,2),
  GOODSTYPE VARCHAR2(30),
  FASTTYPE VARCHAR2(20),
  ARRIVETIME DATE,
  ARRIVESITE VARCHAR2(50),
  SIGNTIME DATE,
  SIGNSITE VARCHAR2(50),
  SIGNFLAG INTEGER,
  DELEVEMP VARCHAR2(30),
  SIGNCENTER VARCHAR2(50),
  PZGETFLAG INTEGER,
  JZPAYFLAG INTEGER,
  CREATETIME DATE,
  sysid VARCHAR2(3) not null,
  primary key (BILLCODE, sysid));
create index if not exists ix_dfpf_time on TAB_DFPFRECORD (CREATETIME);

create table if not exists sys_log (
  id INTEGER primary key,
  tablename VARCHAR2(40),
  key VARCHAR2(40),
  optype VARCHAR2(3),
  content VARCHAR2(2000),
  opsite VARCHAR2(50),
  opemp VARCHAR2(30),
  opaddress VARCHAR2(40),
  optime DATE,
  opnote VARCHAR2(200),
  key1 VARCHAR2(40),
  key2 VARCHAR2(40),
  key3 VARCHAR2(40),
  key4 VARCHAR2(40),
  key5 VARCHAR2(40),
  sysid VARCHAR2(3) not null);
create index if not exists ix_log_time on sys_log (optime);

create table if not exists SYS_TABLES (
  TABLENAME VARCHAR2(40) not null,
  sysid VARCHAR2(3) not null,
  primary key (TABLENAME, sysid));

create table if not exists sys_update (
  id INTEGER primary key,
  utheme VARCHAR2(100),
  udllname VARCHAR2(100),
  ucontent CLOB,
  utime DATE,
  uemp VARCHAR2(30),
  UVERSION VARCHAR2(30),
  UPATH VARCHAR2(200),
  UFLAG VARCHAR2(1),
  sysid VARCHAR2(3) not null);

create table if not exists TAB_FEERULE (
  RULEID INTEGER primary key,
  FEETYPE VARCHAR2(20) not null,
  FINANCE VARCHAR2(50) default '*',
  FIRSTSITE VARCHAR2(50) default '*',
  DEST VARCHAR2(50) default '*',
  GOODSTYPE VARCHAR2(30) default '*',
  WEIGHTFROM NUMBER(10,2) default 0,
  WEIGHTTO NUMBER(10,2),
  BASEFEE NUMBER(10,2) default 0,
  FIRSTWEIGHT NUMBER(10,2) default 0,
  PERKG NUMBER(10,2) default 0,
  PERPCS NUMBER(10,2) default 0,
  MINFEE NUMBER(10,2) default 0,
  VALIDFROM DATE,
  VALIDTO DATE,
  REMARK VARCHAR2(100),
  sysid VARCHAR2(3) not null);
create index if not exists ix_feerule on TAB_FEERULE (sysid, FEETYPE);

create table if not exists TAB_WAYBILL (
  BILLCODE VARCHAR2(20) not null,
  SENDSITE VARCHAR2(50),
  DEST VARCHAR2(50),
  WEIGHT NUMBER(10,2),
  PCS INTEGER,
  GOODSTYPE VARCHAR2(30),
  FASTTYPE VARCHAR2(20),
  MONEY NUMBER(12,2),
  CREATETIME DATE,
  sysid VARCHAR2(3) not null,
  primary key (BILLCODE, sysid));

create table if not exists TAB_BILLISSUE (
  BILLSTART VARCHAR2(20) not null,
  BILLEND VARCHAR2(20) not null,
  SITENAME VARCHAR2(50) not null,
  ISSUETIME DATE,
  sysid VARCHAR2(3) not null,
  primary key (BILLSTART, sysid));

create table if not exists TAB_PICKUP (
  BILLCODE VARCHAR2(20) not null,
  SITENAME VARCHAR2(50),
  EMPNAME VARCHAR2(30),
  WEIGHT NUMBER(10,2),
  PICKTIME DATE,
  sysid VARCHAR2(3) not null);
create index if not exists ix_pickup on TAB_PICKUP (BILLCODE, sysid);

create table if not exists TAB_BILLENTRY (
  BILLCODE VARCHAR2(20) not null,
  SENDSITE VARCHAR2(50),
  DEST VARCHAR2(50),
  WEIGHT NUMBER(10,2),
  GOODSTYPE VARCHAR2(30),
  ENTRYTIME DATE,
  sysid VARCHAR2(3) not null);
create index if not exists ix_entry on TAB_BILLENTRY (BILLCODE, sysid);

create table if not exists TAB_SCAN (
  BILLCODE VARCHAR2(20) not null,
  SITENAME VARCHAR2(50),
  SCANTYPE VARCHAR2(20),
  WEIGHT NUMBER(10,2),
  SCANTIME DATE,
  sysid VARCHAR2(3) not null);
create index if not exists ix_scan on TAB_SCAN (BILLCODE, sysid);

create table if not exists TAB_SIGN (
  BILLCODE VARCHAR2(20) not null,
  SIGNSITE VARCHAR2(50),
  SIGNPERSON VARCHAR2(30),
  SIGNTIME DATE,
  sysid VARCHAR2(3) not null);
create index if not exists ix_sign on TAB_SIGN (BILLCODE, sysid);
)SQL";

// System parameters (px_Toolbox.fParamSet): one value per code and deployment.
const char *const kParameterSchema = R"SQL(
create table if not exists TAB_PARAMETER (
  PARAMCODE VARCHAR2(30) not null,
  PARAMNAME VARCHAR2(60) not null,
  PARAMVALUE VARCHAR2(200),
  REMARK VARCHAR2(200),
  MODIFYEMP VARCHAR2(30),
  MODIFYTIME DATE,
  sysid VARCHAR2(3) not null,
  primary key (PARAMCODE, sysid));
)SQL";
} // namespace

namespace {
// Columns added after a database was first made.
void addMissingColumns(Connection &c)
{
    if (c.tableInfo(QStringLiteral("sys_user")).columnIndex(QStringLiteral("TOKENGEN")) < 0)
        c.executeScript(QStringLiteral("alter table sys_user add column TOKENGEN INTEGER default 0"));
}
} // namespace

QStringList schemaTables()
{
    static const QRegularExpression table(QStringLiteral("create table if not exists ([A-Za-z_0-9]+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    QStringList out;
    for (const char *text : {kSchema, kParameterSchema}) {
        auto it = table.globalMatch(QString::fromUtf8(text));
        while (it.hasNext())
            out.append(it.next().captured(1));
    }
    return out;
}

void createSchema(Connection &c)
{
    Transaction t(c);
    c.executeScript(QString::fromUtf8(kSchema));
    c.executeScript(QString::fromUtf8(kParameterSchema));
    addMissingColumns(c);
    upgradeNoticeTables(c);
    // The key that signs session tokens: one per database, so every server on it agrees.
    if (c.query(QStringLiteral("select VALUE from sys_server where NAME='token_key'"), {}, true)
            .rows.isEmpty()) {
        QByteArray key(32, '\0');
        randombytes_buf(key.data(), size_t(key.size()));
        c.execute(QStringLiteral("insert into sys_server (NAME, VALUE) values ('token_key', ?)"),
                  {key});
    }
    c.execute(QStringLiteral("delete from sys_server where NAME='schema_version'"));
    c.execute(QStringLiteral("insert into sys_server (NAME, VALUE) values ('schema_version', ?)"),
              {QByteArray::number(schemaVersion())});
    createAuthzTables(c);
    ensureOpLogSchema(c);
    ensureSharedStateSchema(c);
    ensureFileStoreSchema(c);
    c.finishSchema();
    ensureDefaultRights(c);
    t.commit();
}

int storedSchemaVersion(Connection &c)
{
    if (!c.tableInfo(QStringLiteral("sys_server")).exists())
        return 0;
    const QueryResult r = c.query(
        QStringLiteral("select VALUE from sys_server where NAME='schema_version'"), {}, false);
    return r.rows.isEmpty() ? 0 : r.rows.first().value(0).toByteArray().toInt();
}

SchemaUpgrade upgradeSchema(Connection &c)
{
    // One upgrader at a time on PostgreSQL (concurrent "create ... if not exists" collide);
    // SQLite's write transaction serialises them already and knows no such function.
    bool locked = false;
    try {
        c.query(QStringLiteral("select pg_advisory_lock(7405713)"), {}, false);
        locked = true;
    } catch (const DbError &) {
    }
    SchemaUpgrade u;
    try {
        u.from = storedSchemaVersion(c);
        u.to = schemaVersion();
        if (u.from > u.to)
            throw DbError(QStringLiteral("the database has schema version %1, made by a newer "
                                         "release; this server knows version %2: install the "
                                         "newer release")
                              .arg(u.from)
                              .arg(u.to));
        createSchema(c);
    } catch (...) {
        if (locked)
            c.query(QStringLiteral("select pg_advisory_unlock(7405713)"), {}, false);
        throw;
    }
    if (locked)
        c.query(QStringLiteral("select pg_advisory_unlock(7405713)"), {}, false);
    return u;
}

} // namespace server
