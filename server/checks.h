#pragma once

#include <QString>
#include <vector>

namespace server {

struct Rights;

// The one place where every entry point of the server says what it needs. The routes
// (server/httpserver.cpp), the server methods (server/methods.cpp) and the administration
// calls (server/admin.cpp) each have one table of these rules; their dispatchers check an
// entry's rule before its handler runs, so a handler cannot forget it. A test walks every
// entry of the three tables and is refused without the right (server/tests/dispatch_test.cpp).

// What the caller must be.
enum class Need {
    Anyone,      // no session (the log-on itself, the balancer's health check)
    SignedOn,    // a valid token of a user who is still allowed in
    Function,    // signed on, and one of the entry's functions granted (dk holds all)
    SuperUser,   // signed on as dk
};

// What the dispatcher checks on the objects a server method names, besides the rule.
enum class ObjectCheck {
    None,        // nothing named
    ReadTables,  // the statement of parameter `arg` reads only tables the roles grant
                 // (refused before it runs, and the engine refuses the rest)
    WriteTables, // every operation of the change packet against the table's rights, the
                 // row scope and the who-did-it columns
    ReadFile,    // the file of parameter `arg`: read rights (server/filerights.h)
    WriteFile,   // the file of parameter `arg`: replace rights
    FileByFlag,  // ReadFile or WriteFile as the flag parameter `flagArg` says (1 / 0)
    ListFiles,   // the folder of parameter `arg`: lists only the files the caller may read
};

struct Guard
{
    Need need = Need::SignedOn;
    // Need::Function: any one of these (nullptr ends the list).
    const char *functions[3] = {nullptr, nullptr, nullptr};
    // What the caller was trying to do, for the refusal ("查看角色").
    const char *what = "";
};

// Throws ServerError(403, Chinese text naming what was refused and whom to ask) when
// `rights` do not meet `guard` (Need::Anyone and Need::SignedOn always pass: the session is
// checked before rights are read).
void checkGuard(const Guard &guard, const Rights &rights);

struct RouteRule
{
    const char *method; // "POST", or "GET" (HEAD goes with GET)
    const char *path;   // the path, or its prefix when `prefix`
    bool prefix;
    Need need;          // Anyone or SignedOn: finer rights are the calls' own rules
    const char *name;   // the name the request log uses
};
const std::vector<RouteRule> &routeRules();
// The rule of a request, nullptr when no route matches (404).
const RouteRule *findRoute(const std::string &method, const std::string &path);

struct MethodRule
{
    const char *name;
    Guard guard;
    ObjectCheck check = ObjectCheck::None;
    int arg = -1;     // parameter position of the statement, table or file
    int flagArg = -1; // FileByFlag: the flag's position
};
const std::vector<MethodRule> &methodRules();
const MethodRule *findMethodRule(const QString &name);

struct AdminRule
{
    const char *name;
    Guard guard;
};
// Every administration call; each may also name another deployment (`sysid`), which only
// dk may do.
std::vector<AdminRule> adminRules();

} // namespace server
