#include "server/methods.h"

#include "dataaccess/protocol/protocol.h"
#include "server/applydata.h"
#include "server/authz.h"
#include "server/checks.h"
#include "server/filearea.h"
#include "server/filerights.h"
#include "server/noticerules.h"
#include "server/provider.h"
#include "server/sharedstate.h"
#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <QDateTime>
#include <functional>
#include <optional>

namespace server {

using namespace quillon::protocol;

QString sessionValue(const SessionInfo &session, const QString &name)
{
    const QString now = canonicalDate(QDateTime::currentDateTime());
    if (name.compare(QLatin1String("ServerTime"), Qt::CaseInsensitive) == 0)
        return now;
    const QCborMap map = session.toUserMap();
    if (name.trimmed().isEmpty() || name == QLatin1String("*")) {
        QStringList lines;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            lines.append(it.key().toString() + QLatin1Char('=') + it.value().toVariant().toString());
        lines.append(QStringLiteral("ServerTime=") + now);
        return lines.join(QLatin1String("\r\n"));
    }
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        if (it.key().toString().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toVariant().toString();
    return QString();
}

namespace {
// The methods of the file area, on the files the session may see; the dispatcher has
// checked the caller's rights on the file (or filters the list) already.
QCborArray fileMethod(MethodContext &ctx, const QString &name, const QCborArray &request, QCborArray &out,
                      const SessionFiles &files, const std::function<QString(const QString &)> &listed)
{
    auto text = [&request](int i) { return request.at(i).toString(); };
    auto write = [&](const QString &path, const QByteArray &data) {
        files.write(path, data);
        noteFileOwner(ctx.backend, ctx.session, path);
    };
    if (name == QLatin1String("MyUpDownFile")) {
        const qint64 flag = quillon::protocol::integerOf(request.at(3));
        if (flag == 0) {
            write(text(0), request.at(1).toByteArray());
            out[2] = QByteArray();
            out[4] = true;
        } else {
            const auto data = files.read(text(0));
            out[2] = data ? *data : QByteArray();
            out[4] = bool(data);
        }
    } else if (name == QLatin1String("DownloadByStream")) {
        const auto data = files.read(text(0));
        if (!data)
            throw ServerError(404,
                              QStringLiteral("服务器上没有文件 %1，请确认文件名，或请发布人重新上传。")
                                  .arg(text(0)),
                              QStringLiteral("file not found: %1").arg(text(0)));
        out[1] = *data;
    } else if (name == QLatin1String("UploadByStream")) {
        write(text(0), request.at(1).toByteArray());
        out[2] = true;
    } else if (name == QLatin1String("GetLstFile")) {
        out[1] = listed(text(0));
    } else if (name == QLatin1String("GetFileVer")) {
        out[1] = files.version(text(0));
    }
    return out;
}
} // namespace

QCborArray callServerMethod(MethodContext &ctx, const QString &method, const QCborArray &request)
{
    const MethodInfo *info = findMethod(method);
    if (!info)
        throw ServerError::technical(404, QStringLiteral("unknown server method: %1").arg(method));
    if (request.size() != info->requestCount())
        throw ServerError::technical(400, QStringLiteral("%1 takes %2 parameters, %3 given")
                                   .arg(method)
                                   .arg(info->requestCount())
                                   .arg(request.size()));
    for (int i = 0; i < info->requestCount(); ++i) {
        const ParamInfo &p = info->params.at(size_t(i));
        if (p.dir == ParamDir::Out)
            continue;
        if (!acceptsValue(p.kind, request.at(i)))
            throw ServerError::technical(400, QStringLiteral("%1: parameter %2 (%3) has the wrong kind")
                                       .arg(method)
                                       .arg(i)
                                       .arg(QLatin1String(p.name)));
    }
    // Texts (file names, table names, data packets) that a backend or the file system would
    // not keep as sent are refused before anything is written.
    for (int i = 0; i < info->requestCount(); ++i)
        if (request.at(i).isString() && !isStorableText(request.at(i).toString()))
            throw ServerError(400, unstorableTextMessage(
                                       QStringLiteral("%1 的参数 %2 ").arg(method, QLatin1String(info->params.at(size_t(i)).name))));
    QCborArray out;
    for (int i = 0; i < info->positionCount(); ++i)
        out.append(QCborValue());
    const QString name = QLatin1String(info->name);
    auto text = [&request](int i) { return request.at(i).toString(); };

    // The method's rule (server/checks.h): what the caller needs, and the check of the
    // objects it names, made here before the method runs.
    const MethodRule *rule = findMethodRule(name);
    if (!rule)
        throw ServerError::technical(404, QStringLiteral("server method %1 has no rule").arg(name));
    std::shared_ptr<const Rights> rights;
    auto callerRights = [&]() -> const Rights & {
        if (!rights)
            rights = sessionRights(ctx.backend, ctx.session);
        return *rights;
    };
    if (rule->guard.need == Need::Function || rule->guard.need == Need::SuperUser)
        checkGuard(rule->guard, callerRights());
    std::optional<SessionFiles> files;
    ObjectCheck check = rule->check;
    if (check == ObjectCheck::FileByFlag) {
        const qint64 flag = quillon::protocol::integerOf(request.at(rule->flagArg));
        if (flag != 0 && flag != 1)
            throw ServerError::technical(400, QStringLiteral("%1: flag %2 is neither 0 (upload) nor 1 "
                                                             "(download)")
                                                  .arg(name)
                                                  .arg(flag));
        check = flag == 0 ? ObjectCheck::WriteFile : ObjectCheck::ReadFile;
    }
    switch (check) {
    case ObjectCheck::ReadFile:
        files.emplace(ctx.files.forSession(ctx.session));
        authorizeFileRead(ctx.backend, ctx.session, callerRights(), *files, text(rule->arg));
        break;
    case ObjectCheck::WriteFile:
        files.emplace(ctx.files.forSession(ctx.session));
        authorizeFileWrite(ctx.backend, ctx.session, callerRights(), *files, text(rule->arg));
        break;
    case ObjectCheck::ListFiles:
        files.emplace(ctx.files.forSession(ctx.session));
        break;
    case ObjectCheck::ReadTables:  // runClientQuery: the read rights, then the engine
    case ObjectCheck::WriteTables: // applyData calls authorizeApply for every table's changes
    case ObjectCheck::None:
    case ObjectCheck::FileByFlag:
        break;
    }
    if (files) {
        const auto listed = [&](const QString &folder) {
            return readableFileList(ctx.backend, ctx.session, callerRights(), *files, folder,
                                    files->list(folder));
        };
        return fileMethod(ctx, name, request, out, *files, listed);
    }

    if (name == QLatin1String("DSServerModuleCreate") || name == QLatin1String("DSServerModuleDestroy"))
        return out; // events of the server module: nothing to do
    if (name == QLatin1String("dspPublicAfterGetRecords")
        || name == QLatin1String("dspPublicBeforeGetRecords")) {
        out[1] = request.at(1); // OwnerData comes back unchanged
        return out;
    }
    if (name == QLatin1String("EchoString")) {
        out[1] = text(0);
        return out;
    }
    if (name == QLatin1String("ReverseString")) {
        const QString s = text(0);
        QString r;
        r.reserve(s.size());
        // Reverse by code point so that characters outside the BMP stay whole.
        const QList<uint> cps = s.toUcs4();
        for (auto it = cps.crbegin(); it != cps.crend(); ++it)
            r += QString::fromUcs4(reinterpret_cast<const char32_t *>(&*it), 1);
        out[1] = r;
        return out;
    }
    if (name == QLatin1String("GetData")) {
        out[2] = runClientQuery(ctx.backend, ctx.session, text(0));
        return out;
    }
    if (name == QLatin1String("GetLstValue")) {
        out[1] = sessionValue(ctx.session, text(0));
        return out;
    }
    if (name == QLatin1String("ApplyData")) {
        // The caller's roles decide which tables it may write (cached per token generation).
        const Rights &writer = callerRights();
        auto conn = ctx.backend.acquireForServer();
        const QString &reqId = ctx.requestId;
        if (!reqId.isEmpty()) {
            if (!isValidRequestId(reqId))
                throw ServerError::technical(400, QStringLiteral("bad request id: %1").arg(reqId.left(80)));
            // A retry of a call that was applied: its first outcome, nothing applied again.
            if (const auto stored = storedOutcome(*conn, ctx.session.sysid, reqId, ctx.session.user)) {
                out[3] = *stored;
                out[4] = true;
                return out;
            }
        }
        quillon::DataPacket refreshed;
        QByteArray refreshedBinary;
        try {
            refreshed = applyData(
                *conn, text(0), text(1), ctx.session.sysid,
                OpActor{ctx.session.siteName, ctx.session.empName, ctx.clientAddress},
                [&](const QString &table, const QString &ops, quillon::DataPacket &packet) {
                    authorizeApply(*conn, writer, table, ops, packet, ctx.session);
                },
                [&](const quillon::DataPacket &packet) {
                    if (reqId.isEmpty())
                        return;
                    refreshedBinary = packet.toBinary();
                    recordOutcome(*conn, ctx.session.sysid, reqId, ctx.session.user, refreshedBinary);
                },
                writer.updatableColumns(text(0).trimmed()));
        } catch (const ServerError &) {
            // The same id applied meanwhile by a parallel retry (its outcome's key, or its
            // rows, made this one fail): the first outcome.
            if (!reqId.isEmpty())
                if (const auto stored = storedOutcome(*conn, ctx.session.sysid, reqId, ctx.session.user)) {
                    out[3] = *stored;
                    out[4] = true;
                    return out;
                }
            throw;
        }
        // Files of rows deleted by this apply go now that it has committed. The apply
        // stands whatever happens here; what is left stays queued for the next one.
        try {
            purgeQueuedFiles(*conn, ctx.files.deployment(ctx.session.sysid), ctx.session.sysid);
        } catch (const std::exception &) {
        }
        out[3] = refreshedBinary.isEmpty() ? refreshed.toBinary() : refreshedBinary;
        out[4] = true;
        return out;
    }
    throw ServerError::technical(404, QStringLiteral("unknown server method: %1").arg(method));
}

} // namespace server
