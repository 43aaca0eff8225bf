#pragma once

// Helper functions of the Oracle dialect, the server functions (F_*) and the tenant table
// of a PostgreSQL database; installed by createSchema, idempotent. The rules are those of
// server/serverfunctions.cpp (docs/fees.md); the shared vectors in the tests keep the two
// in step.
namespace server::pgsql {

inline const char *const kFunctions = R"SQL(
-- Read as Oracle reads: separators may differ or be missing between the fields.
create or replace function wl_to_date(t text, f text default 'YYYY-MM-DD HH24:MI:SS')
returns timestamp(0) language plpgsql immutable as $$
declare
  digits text; model text;
begin
  if t is null or btrim(t) = '' then return null; end if;
  begin
    return to_timestamp(btrim(t), f)::timestamp(0);
  exception when others then
    digits := regexp_replace(t, '[^0-9]', '', 'g');
    model := regexp_replace(upper(f), '[^A-Z0-9]', '', 'g');
    return to_timestamp(digits, model)::timestamp(0);
  end;
end $$;

-- SQLite's name of coalesce, for the administrators' own SQL.
create or replace function ifnull(a anycompatible, b anycompatible)
returns anycompatible language sql immutable as $$ select coalesce(a, b) $$;
create or replace function wl_to_date(t timestamp, f text default null)
returns timestamp(0) language sql immutable as $$ select t::timestamp(0) $$;

create or replace function wl_to_char(t timestamp, f text default 'YYYY-MM-DD HH24:MI:SS')
returns text language sql immutable as $$ select to_char(t, f) $$;
create or replace function wl_to_char(n numeric)
returns text language sql immutable as $$ select n::text $$;
create or replace function wl_to_char(n numeric, f text)
returns text language sql immutable as $$ select btrim(to_char(n, f)) $$;
create or replace function wl_to_char(t text)
returns text language sql immutable as $$ select t $$;

create or replace function wl_trunc(t timestamp, f text default 'DD')
returns timestamp(0) language sql immutable as $$
  select case upper(coalesce(f, 'DD'))
    when 'YYYY' then date_trunc('year', t) when 'YEAR' then date_trunc('year', t)
    when 'Y' then date_trunc('year', t)
    when 'MM' then date_trunc('month', t) when 'MONTH' then date_trunc('month', t)
    when 'MON' then date_trunc('month', t)
    when 'HH' then date_trunc('hour', t) when 'HH24' then date_trunc('hour', t)
    when 'MI' then date_trunc('minute', t)
    else date_trunc('day', t) end $$;
create or replace function wl_trunc(n numeric)
returns numeric language sql immutable as $$ select trunc(n) $$;
create or replace function wl_trunc(n numeric, d integer)
returns numeric language sql immutable as $$ select trunc(n, d) $$;

create or replace function wl_datearith(a timestamp, op text, days numeric)
returns timestamp(0) language sql immutable as $$
  select (a + (case when op = '-' then -days else days end) * interval '1 day')::timestamp(0) $$;
create or replace function wl_datearith(a timestamp, op text, b timestamp)
returns numeric language sql immutable as $$
  select (extract(epoch from a) - extract(epoch from b)) / 86400.0 $$;

-- The site to which a waybill number was issued: the latest range that holds it.
create or replace function wl_issuesite(bill text, sys text)
returns text language sql stable as $$
  select nullif(btrim(SITENAME), '') from TAB_BILLISSUE where sysid = sys
     and length(BILLSTART) = length(bill) and bill between BILLSTART and BILLEND
   order by ISSUETIME desc limit 1 $$;

create or replace function F_CalcJSFee(
  Pi_FirstSite text, Pi_Dest text, Pi_FeeType text, Pi_PCS numeric, Pi_Weight numeric,
  Pi_BulkWeight numeric, Pi_FastType text, Pi_GoodsType text, Pi_SevrType text,
  Pi_TransType text, Pi_Finance text, Pi_OpSite text, Pi_CusName text, Pi_ValidTime text,
  Pi_sysid text)
returns double precision language plpgsql stable as $$
declare
  whenx text;
  w double precision;
  keys text[] := array[btrim(coalesce(Pi_Finance, '')), btrim(coalesce(Pi_FirstSite, '')),
                       btrim(coalesce(Pi_Dest, '')), btrim(coalesce(Pi_GoodsType, ''))];
  r record;
  vals text[];
  score int; ok boolean; k int; v text;
  fromw double precision;
  best record; bestscore int := -1; bestfrom double precision := -1;
  over double precision; steps double precision; fee double precision;
begin
  -- What cannot be priced to the cent is refused, as on SQLite (serverfunctions.h).
  if not (abs(trunc(coalesce(Pi_PCS, 0))) <= 2147483647) then
    raise exception 'F_CalcJSFee: % pieces cannot be priced (at most 2147483647)', Pi_PCS;
  end if;
  if not (abs(coalesce(Pi_Weight, 0)) <= 1e9) or not (abs(coalesce(Pi_BulkWeight, 0)) <= 1e9) then
    raise exception 'F_CalcJSFee: a weight of % kg cannot be priced (at most 1e+09)',
      case when not (abs(coalesce(Pi_Weight, 0)) <= 1e9) then Pi_Weight else Pi_BulkWeight end;
  end if;
  w := greatest(coalesce(Pi_Weight, 0), coalesce(Pi_BulkWeight, 0));
  begin
    whenx := to_char(to_timestamp(btrim(Pi_ValidTime), 'YYYY-MM-DD HH24:MI:SS'), 'YYYY-MM-DD HH24:MI:SS');
  exception when others then whenx := null;
  end;
  if whenx is null or btrim(coalesce(Pi_ValidTime, '')) = '' then
    whenx := to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS');
  end if;
  for r in select RULEID, FINANCE, FIRSTSITE, DEST, GOODSTYPE, WEIGHTFROM, WEIGHTTO, BASEFEE,
                  FIRSTWEIGHT, PERKG, PERPCS, MINFEE from TAB_FEERULE
            where sysid = btrim(coalesce(Pi_sysid, '')) and FEETYPE = btrim(coalesce(Pi_FeeType, ''))
              and (VALIDFROM is null or VALIDFROM <= whenx::timestamp)
              and (VALIDTO is null or VALIDTO >= whenx::timestamp)
            order by RULEID loop
    vals := array[btrim(coalesce(r.FINANCE::text, '')), btrim(coalesce(r.FIRSTSITE::text, '')),
                  btrim(coalesce(r.DEST::text, '')), btrim(coalesce(r.GOODSTYPE::text, ''))];
    score := 0; ok := true;
    for k in 1..4 loop
      v := vals[k];
      continue when v = '' or v = '*';
      if v <> keys[k] then ok := false; exit; end if;
      score := score + (1 << (4 - k));
    end loop;
    continue when not ok;
    fromw := coalesce(r.WEIGHTFROM, 0);
    continue when w < fromw or (r.WEIGHTTO is not null and w >= r.WEIGHTTO);
    if score > bestscore or (score = bestscore and fromw > bestfrom) then
      best := r; bestscore := score; bestfrom := fromw;
    end if;
  end loop;
  if bestscore < 0 then return 0; end if;
  over := greatest(0, w - coalesce(best.FIRSTWEIGHT, 0));
  steps := ceil(over * 2.0 - 1e-9) / 2.0;
  fee := coalesce(best.BASEFEE, 0) + steps * coalesce(best.PERKG, 0)
         + greatest(0, trunc(coalesce(Pi_PCS, 0))) * coalesce(best.PERPCS, 0);
  fee := greatest(fee, coalesce(best.MINFEE, 0));
  if not (abs(fee) <= 1e13) then
    raise exception 'F_CalcJSFee: a fee of % cannot be priced to the cent (rule %)', fee, best.RULEID;
  end if;
  return round((fee * 100.0)::numeric) / 100.0;
end $$;

create or replace function F_CalcJSFee(
  Pi_FirstSite text, Pi_Dest text, Pi_FeeType text, Pi_PCS numeric, Pi_Weight numeric,
  Pi_BulkWeight numeric, Pi_FastType text, Pi_GoodsType text, Pi_SevrType text,
  Pi_TransType text, Pi_Finance text, Pi_OpSite text, Pi_CusName text, Pi_ValidTime timestamp,
  Pi_sysid text)
returns double precision language sql stable as $$
  select F_CalcJSFee(Pi_FirstSite, Pi_Dest, Pi_FeeType, Pi_PCS, Pi_Weight, Pi_BulkWeight,
    Pi_FastType, Pi_GoodsType, Pi_SevrType, Pi_TransType, Pi_Finance, Pi_OpSite, Pi_CusName,
    to_char(Pi_ValidTime, 'YYYY-MM-DD HH24:MI:SS'), Pi_sysid) $$;

create or replace function F_GetFFSite(bill text, sys text)
returns text language sql stable as $$ select wl_issuesite(btrim(bill), btrim(sys)) $$;

create or replace function F_GetSJSite(bill text, sys text)
returns text language sql stable as $$
  select nullif(btrim(SITENAME), '') from TAB_PICKUP where BILLCODE = btrim(bill)
     and sysid = btrim(sys) order by PICKTIME limit 1 $$;

create or replace function F_GetAccMdd(bill text, mode numeric, sys text)
returns text language sql stable as $$
  select case trunc(mode)
    when 0 then (select nullif(btrim(DEST), '') from TAB_BILLENTRY where BILLCODE = btrim(bill)
                   and sysid = btrim(sys) order by ENTRYTIME desc limit 1)
    when 1 then (select nullif(btrim(s.DEFAULTMDD), '') from TAB_SIGN g join tab_Site s
                   on s.SiteName = g.SIGNSITE and s.sysid = g.sysid
                  where g.BILLCODE = btrim(bill) and g.sysid = btrim(sys)
                  order by g.SIGNTIME desc limit 1)
    end $$;

create or replace function F_GetMaxWeight(bill text, sys text)
returns double precision language sql stable as $$
  select max(WEIGHT)::double precision from (
    select WEIGHT from TAB_PICKUP where BILLCODE = btrim(bill) and sysid = btrim(sys)
    union all select WEIGHT from TAB_BILLENTRY where BILLCODE = btrim(bill) and sysid = btrim(sys)
    union all select WEIGHT from TAB_SCAN where BILLCODE = btrim(bill) and sysid = btrim(sys)
    union all select WEIGHT from TAB_WAYBILL where BILLCODE = btrim(bill) and sysid = btrim(sys)) w $$;

create or replace function F_GetSignSite(bill text, sys text)
returns text language sql stable as $$
  select nullif(btrim(SIGNSITE), '') from TAB_SIGN where BILLCODE = btrim(bill)
     and sysid = btrim(sys) order by SIGNTIME desc limit 1 $$;

create or replace function F_GetFirstSite(bill text, mode numeric, sys text)
returns text language sql stable as $$
  select case trunc(mode)
    when 0 then wl_issuesite(btrim(bill), btrim(sys))
    when 1 then (select nullif(btrim(SENDSITE), '') from TAB_BILLENTRY where BILLCODE = btrim(bill)
                   and sysid = btrim(sys) order by ENTRYTIME desc limit 1)
    end $$;

create or replace function F_GetWeight(bill text, mode numeric, sys text)
returns double precision language sql stable as $$
  select case trunc(mode)
    when 0 then (select WEIGHT::double precision from TAB_BILLENTRY where BILLCODE = btrim(bill)
                   and sysid = btrim(sys) order by ENTRYTIME desc limit 1)
    when 2 then (select WEIGHT::double precision from TAB_WAYBILL where BILLCODE = btrim(bill)
                   and sysid = btrim(sys))
    end $$;


-- Many calls of the finance functions in one statement (one snapshot): a JSON array of
-- [function, arguments...]; the answer holds one value per call, in order, and ends with
-- {"error": text} at the first call that fails (the calls after it are not run).
create or replace function F_CallBatch(calls text)
returns text language plpgsql stable as $$
declare
  doc jsonb; c jsonb; f text; nargs int; want int; v jsonb;
  vals jsonb[] := '{}';
begin
  if calls is null then return null; end if;
  if length(calls) > 4194304 then
    raise exception 'F_CallBatch: a batch is at most 4194304 bytes';
  end if;
  begin
    doc := calls::jsonb;
  exception when others then
    raise exception 'F_CallBatch: a batch is a JSON array of calls';
  end;
  if jsonb_typeof(doc) <> 'array' then
    raise exception 'F_CallBatch: a batch is a JSON array of calls';
  end if;
  if jsonb_array_length(doc) > 5000 then
    raise exception 'F_CallBatch: a batch holds at most 5000 calls';
  end if;
  begin
    for c in select e.value from jsonb_array_elements(doc) with ordinality as e(value, n) order by e.n loop
      if jsonb_typeof(c) <> 'array' or jsonb_array_length(c) = 0 or jsonb_typeof(c->0) <> 'string'
         or exists (select 1 from jsonb_array_elements(c) a where jsonb_typeof(a) not in ('string', 'number', 'null')) then
        raise exception 'F_CallBatch: a call is [function, its arguments] of a finance function';
      end if;
      f := lower(c->>0);
      nargs := jsonb_array_length(c) - 1;
      want := case f when 'f_calcjsfee' then 15 when 'f_getaccmdd' then 3 when 'f_getfirstsite' then 3
                when 'f_getweight' then 3 when 'f_getffsite' then 2 when 'f_getsjsite' then 2
                when 'f_getmaxweight' then 2 when 'f_getsignsite' then 2 else -1 end;
      if nargs <> want then
        raise exception 'F_CallBatch: a call is [function, its arguments] of a finance function';
      end if;
      v := case f
        when 'f_calcjsfee' then to_jsonb(F_CalcJSFee(c->>1, c->>2, c->>3, (c->>4)::numeric,
               (c->>5)::numeric, (c->>6)::numeric, c->>7, c->>8, c->>9, c->>10, c->>11, c->>12,
               c->>13, c->>14, c->>15))
        when 'f_getffsite' then to_jsonb(F_GetFFSite(c->>1, c->>2))
        when 'f_getsjsite' then to_jsonb(F_GetSJSite(c->>1, c->>2))
        when 'f_getaccmdd' then to_jsonb(F_GetAccMdd(c->>1, (c->>2)::numeric, c->>3))
        when 'f_getmaxweight' then to_jsonb(F_GetMaxWeight(c->>1, c->>2))
        when 'f_getsignsite' then to_jsonb(F_GetSignSite(c->>1, c->>2))
        when 'f_getfirstsite' then to_jsonb(F_GetFirstSite(c->>1, (c->>2)::numeric, c->>3))
        when 'f_getweight' then to_jsonb(F_GetWeight(c->>1, (c->>2)::numeric, c->>3))
      end;
      vals := array_append(vals, coalesce(v, 'null'::jsonb));
    end loop;
  exception when others then
    -- What was answered stays; the failing call ends the answer.
    return (to_jsonb(vals) || jsonb_build_array(jsonb_build_object('error', SQLERRM)))::text;
  end;
  return to_jsonb(vals)::text;
end $$;
)SQL";

inline const char *const kTenants = R"SQL(
-- The deployment of the login role that runs a client's query. Client queries run on
-- connections that log in as the deployment's own role (sys_tenant); session_user cannot
-- be changed by a role that is not a superuser, so no SQL text can move a session into
-- another deployment. Security definer: the tenant roles cannot read sys_tenant.
create table if not exists sys_tenant (
  ROLNAME varchar(63) primary key,
  TENANT varchar(40) not null);
revoke all on sys_tenant from public;
create or replace function wl_tenant_sysid()
returns text language sql stable security definer set search_path = public, pg_temp as $$
  select TENANT from sys_tenant where ROLNAME = session_user $$;
-- The tables a login may read ('*': every business table) and, for a login limited to its
-- site or finance centre, the rows it keeps: a row of a scoped table is visible when one of
-- the listed columns holds the value.
alter table sys_tenant add column if not exists TABLES text;
create table if not exists sys_tenantscope (
  ROLNAME varchar(63) not null,
  TABLENAME varchar(63) not null,
  COLNAME varchar(63) not null,
  VALUE text not null,
  primary key (ROLNAME, TABLENAME, COLNAME));
revoke all on sys_tenantscope from public;
create or replace function wl_tenant_scoped(t text)
returns boolean language sql stable security definer set search_path = public, pg_temp as $$
  select exists (select 1 from sys_tenantscope where ROLNAME = session_user and TABLENAME = t) $$;
create or replace function wl_tenant_scope(t text, col text)
returns text language sql stable security definer set search_path = public, pg_temp as $$
  select VALUE from sys_tenantscope where ROLNAME = session_user and TABLENAME = t
    and COLNAME = col $$;
)SQL";

inline const char *const kNoticeReaders = R"SQL(
-- Logins that see only their reader's own notices (sys_tenant.OWNNOTICES: the notice tables
-- so limited) and the reader of each of their connections, by backend process. The server
-- notes the reader with its own login before the connection runs a client statement; no
-- login of a deployment can write it, and a row counts only for the login of its process.
alter table sys_tenant add column if not exists OWNNOTICES text;
create unlogged table if not exists sys_tenantreader (
  PID integer primary key,
  ROLNAME varchar(63) not null,
  SITE text not null,
  EMP text not null);
revoke all on sys_tenantreader from public;
create or replace function wl_tenant_own_notices(t text)
returns boolean language sql stable security definer set search_path = public, pg_temp as $$
  select coalesce((select t = any(string_to_array(OWNNOTICES, ',')) from sys_tenant
    where ROLNAME = session_user), false) $$;
-- PL/pgSQL: their plans are kept for the session (SQL functions with SET clauses are
-- planned again at every call, and the policies call them in every query of a notice table).
create or replace function wl_reader_site()
returns text language plpgsql stable security definer set search_path = public, pg_temp as $$
begin
  return (select SITE from sys_tenantreader where PID = pg_backend_pid() and ROLNAME = session_user);
end $$;
create or replace function wl_reader_emp()
returns text language plpgsql stable security definer set search_path = public, pg_temp as $$
begin
  return (select EMP from sys_tenantreader where PID = pg_backend_pid() and ROLNAME = session_user);
end $$;
-- The notices the reader published, and every notice that is his: published by him or
-- addressed to his site or to him.
create or replace function wl_reader_published()
returns setof text language plpgsql stable security definer set search_path = public, pg_temp as $$
declare
  s text := wl_reader_site(); e text := wl_reader_emp(); d text := wl_tenant_sysid();
begin
  return query select r.msgid::text from tab_msgrecord r where r.sysid = d and r.opsite = s and r.opemp = e;
end $$;
create or replace function wl_reader_notices()
returns setof text language plpgsql stable security definer set search_path = public, pg_temp as $$
declare
  s text := wl_reader_site(); e text := wl_reader_emp(); d text := wl_tenant_sysid();
begin
  return query
    select * from wl_reader_published()
    union
    select m.msgid::text from tab_msgsite m where m.sysid = d and m.msgsite = s
    union
    select x.msgid::text from tab_msgemp x where x.sysid = d and x.msgsite = s and x.msgemp = e;
end $$;
)SQL";

} // namespace server::pgsql
