#pragma once

#include <QObject>
#include <QString>

namespace tessera {

// Keeps up to five SQL texts (several lines, comment lines allowed) and hands them out as
// one line of text without the comment lines.
class TMySqlManageX : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString SqlText1 READ SqlText1 WRITE SetSqlText1)
    Q_PROPERTY(QString SqlText2 READ SqlText2 WRITE SetSqlText2)
    Q_PROPERTY(QString SqlText3 READ SqlText3 WRITE SetSqlText3)
    Q_PROPERTY(QString SqlText4 READ SqlText4 WRITE SetSqlText4)
    Q_PROPERTY(QString SqlText5 READ SqlText5 WRITE SetSqlText5)

public:
    explicit TMySqlManageX(QObject *owner = nullptr);

    // Text 1..5 with the lines that begin with "--" (after trimming) left out and every
    // other line followed by one blank. Throws host::UserError "SQL索引[i]超出范围,最值为1-5!"
    // for another index and "SQL索引[i]未定义!" for a text without lines.
    QString GetSql(int sqlIndex) const;

    QString SqlText1() const { return m_sql[0]; }
    QString SqlText2() const { return m_sql[1]; }
    QString SqlText3() const { return m_sql[2]; }
    QString SqlText4() const { return m_sql[3]; }
    QString SqlText5() const { return m_sql[4]; }
    void SetSqlText1(const QString &v) { m_sql[0] = v; }
    void SetSqlText2(const QString &v) { m_sql[1] = v; }
    void SetSqlText3(const QString &v) { m_sql[2] = v; }
    void SetSqlText4(const QString &v) { m_sql[3] = v; }
    void SetSqlText5(const QString &v) { m_sql[4] = v; }

private:
    QString m_sql[5];
};

} // namespace tessera
