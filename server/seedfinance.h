#pragma once

#include <QDateTime>
#include <QString>

namespace server {

class Connection;

struct FinanceVolumeOptions
{
    // Waybills with their events; each gives two centre account lines, one pay-on-delivery
    // and one delivery-fee record.
    int waybills = 6000;
    QDateTime now = QDateTime::currentDateTime(); // lines spread over this month up to now
    quint32 randomSeed = 20261208;
};

// Finance volume for the demo deployment "001", on top of seedDemo: waybills numbered
// "88..." with issue, pick-up, entry, scan and signature events, and their account lines,
// pay-on-delivery and delivery-fee records dated in the current month (a third today).
// The rows cover every filter and refresh of the finance windows: the three centres and
// their sites, previous and next stations set or missing, signed and unsigned lines,
// weights below and above the largest recorded one, destinations and sending sites that
// the lookup functions can fill, remarks empty and not. Refuses a second run.
void seedFinanceVolume(Connection &c, const FinanceVolumeOptions &options = FinanceVolumeOptions());

} // namespace server
