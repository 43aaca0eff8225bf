// The checks every encoding shares: a packet's rows and change log fit together, and each
// value fits its field.
#include "dataaccess/packet/packetformat.h"

#include <string>

namespace quillon {

namespace packetformat {

int stateCode(RowState state)
{
    switch (state) {
    case RowState::Inserted: return kStateInserted;
    case RowState::Modified: return kStateModified;
    case RowState::Deleted: return kStateDeleted;
    case RowState::Unchanged: break;
    }
    return 0;
}

QVariant encodableValue(const FieldDef &field, const QVariant &value)
{
    bool ok = true;
    const QVariant v = convertValue(field.type, value, &ok);
    if (!ok)
        throw PacketError("value " + value.toString().left(40).toStdString() + " does not fit field "
                          + field.name.toStdString() + " of type "
                          + fieldTypeName(field.type).toStdString());
    return v;
}

void checkShape(const DataPacket &p)
{
    const qsizetype n = p.fields.size();
    for (qsizetype r = 0; r < p.rows.size(); ++r)
        if (p.rows.at(r).size() != n)
            throw PacketError("row " + std::to_string(r) + " has " + std::to_string(p.rows.at(r).size())
                              + " values for " + std::to_string(n) + " fields");
    QList<bool> seen(p.rows.size(), false);
    for (const DataPacket::Change &c : p.changes) {
        switch (c.state) {
        case RowState::Inserted:
        case RowState::Modified:
            if (c.row < 0 || c.row >= p.rows.size())
                throw PacketError("change log points at row " + std::to_string(c.row)
                                  + " which does not exist");
            if (seen[c.row])
                throw PacketError("change log names row " + std::to_string(c.row) + " twice");
            seen[c.row] = true;
            if (c.state == RowState::Inserted && !c.original.isEmpty())
                throw PacketError("an inserted row carries original values");
            if (c.state == RowState::Modified && c.original.size() != n)
                throw PacketError("a modified row's original values do not match the fields");
            break;
        case RowState::Deleted:
            if (c.row != -1)
                throw PacketError("a deleted row still points into the rows");
            if (c.original.size() != n)
                throw PacketError("a deleted row's original values do not match the fields");
            break;
        case RowState::Unchanged:
            throw PacketError("change log entry without a change");
        }
    }
}

} // namespace packetformat

int DataPacket::fieldIndex(const QString &name) const
{
    for (int i = 0; i < fields.size(); ++i)
        if (fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void DataPacket::validate() const
{
    packetformat::checkShape(*this);
}

} // namespace quillon
