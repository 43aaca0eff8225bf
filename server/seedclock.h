#pragma once
// Placing the demo's events on the clock: a waybill's events follow one another at fixed
// distances from its creation (pick-up before, scans, arrival and signature after), and none
// of them may lie after the moment of seeding. A chain that would end in the future moves
// back so that its last event happens at `now`; a chain that would then start before the
// earliest allowed moment (the start of the month of a month's volume) is compressed to fit
// between that moment and `now`, keeping the events' order.

#include <QDateTime>
#include <algorithm>

namespace server {

class EventChain
{
public:
    // `created` is where the chain would start; its events lie from `firstOffset` (seconds,
    // at most 0) to `lastOffset` (at least 0) around it.
    EventChain(const QDateTime &created, qint64 firstOffset, qint64 lastOffset, const QDateTime &now,
               const QDateTime &earliest)
        : m_start(created)
    {
        firstOffset = std::min<qint64>(firstOffset, 0);
        lastOffset = std::max<qint64>(lastOffset, 0);
        if (created.addSecs(lastOffset) <= now)
            return;
        m_start = now.addSecs(-lastOffset);
        if (m_start.addSecs(firstOffset) >= earliest)
            return;
        const qint64 room = std::max<qint64>(0, earliest.secsTo(now));
        const qint64 span = lastOffset - firstOffset;
        m_scale = span > 0 ? double(room) / double(span) : 0.0;
        m_start = earliest.addSecs(qint64(double(-firstOffset) * m_scale));
        if (m_start > now)
            m_start = now;
    }

    QDateTime start() const { return m_start; }
    // The moment of the event `offset` seconds after the start (before it, when negative).
    QDateTime at(qint64 offset) const { return m_start.addSecs(qint64(double(offset) * m_scale)); }

private:
    QDateTime m_start;
    double m_scale = 1.0;
};

// `when`, or `now` when `when` lies after it.
inline QDateTime notAfter(const QDateTime &when, const QDateTime &now)
{
    return when > now ? now : when;
}

} // namespace server
