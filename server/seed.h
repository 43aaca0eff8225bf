#pragma once

#include <QDateTime>
#include <QString>

namespace server {

class Connection;

struct SeedOptions
{
    int waybills = 3000;            // waybills with their events and finance records
    QDateTime now = QDateTime::currentDateTime(); // dates are spread over the 30 days before
    bool fastHash = false;          // cheap password hashes (tests only)
    quint32 randomSeed = 20261207;  // same seed, same data
};

// Demo deployment "001" (see docs/server.md): a site tree under 总部 with three finance
// centres, employees, destinations, goods types, users (password "123456"), menus of the
// three modules for "001" and for the super administrator "dk", notices, fee rules,
// waybills with their events, account, pay-on-delivery and delivery-fee rows, an
// operation log and update records. Refuses a database that already holds the demo.
void seedDemo(Connection &c, const SeedOptions &options = SeedOptions());

inline constexpr char kDemoSysid[] = "001";
inline constexpr char kDemoPassword[] = "123456";

} // namespace server
