#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace tessera {

// The message table: section "MsgList" of "ShowMsg.ini" beside the executable. The code
// holds only keys ("Msg10"); the texts live in the file. The table is read on the first
// lookup that finds the file with at least one line and is kept for the life of the
// process; until then every lookup tries the file again.
class TMsgConfig
{
public:
    // `directory` overrides the executable's directory (with or without trailing slash).
    explicit TMsgConfig(QString directory = {});

    // The text of the key (names compared without regard to case); empty when the table
    // or the key is missing.
    QString GetMsgStr(const QString &msgId);

    bool isLoaded() const { return !m_msgList.isEmpty(); }

private:
    QString m_directory;
    QList<QPair<QString, QString>> m_msgList;
};

// The process-wide message table every form and control reads its texts through.
TMsgConfig &MsgConfig();
// Short hand for MsgConfig().GetMsgStr(key).
QString msgText(const QString &msgId);

} // namespace tessera
