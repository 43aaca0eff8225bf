#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>

namespace server {

// A refused or failed file operation; the text is for the caller.
class FileError : public std::runtime_error
{
public:
    FileError(int status, const QString &message)
        : std::runtime_error(message.toStdString())
        , m_status(status)
        , m_message(message)
    {}
    int status() const noexcept { return m_status; }
    const QString &message() const noexcept { return m_message; }

private:
    int m_status;
    QString m_message;
};

// The server's file area: one root folder. Server paths use backslashes ("notice\20261207\x.rtf");
// forward slashes are accepted too. A path that leaves the root (".." parts, drive letters,
// absolute or UNC paths, links pointing outside) is refused with status 403.
class FileArea
{
public:
    explicit FileArea(const QString &root);
    const QString &root() const { return m_root; }

    // The local path of a server path; throws FileError(403) when it leaves the root.
    QString resolve(const QString &serverPath) const;

    std::optional<QByteArray> read(const QString &serverPath) const; // nullopt: no such file
    void write(const QString &serverPath, const QByteArray &data) const; // creates folders
    // Files below a folder, as server paths relative to it (backslashes), sorted, one per line.
    QString list(const QString &serverFolder) const;
    // "yyyy-MM-dd HH:mm:ss" of the last change and the size ("2026-12-07 10:00:00|1234");
    // empty when there is no such file.
    QString version(const QString &serverPath) const;

private:
    QString m_root;
};

} // namespace server
