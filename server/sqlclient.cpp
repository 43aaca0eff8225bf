// waylink-sql: logs on to waylink-server and runs a query, calls a method, or moves a file.
#include "dataaccess/packet/datapacket.h"
#include "dataaccess/protocol/transport.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <cstdio>

using namespace quillon::protocol;

namespace {

const char kUsage[] =
    "usage: waylink-sql [--host H] [--port P] [--tls] [--insecure] [--ca FILE]\n"
    "                   --site CODE --user USER --password PASS COMMAND ...\n"
    "commands:\n"
    "  session                      log on and print the session values\n"
    "  query SQL [PARAM ...]        run a query through the provider; prints tab-separated rows\n"
    "  call METHOD [ARG ...]        call TfrmServerMethods.METHOD with its in-parameters\n"
    "                               (streams and byte arrays: @file reads a local file)\n"
    "  upload LOCAL SERVERPATH      MyUpDownFile upload\n"
    "  download SERVERPATH LOCAL    MyUpDownFile download\n"
    "Defaults come from WAYLINK_HOST, WAYLINK_PORT, WAYLINK_SITE, WAYLINK_USER, WAYLINK_PASSWORD.\n";

QString env(const char *name, const QString &fallback = QString())
{
    const QString v = qEnvironmentVariable(name);
    return v.isEmpty() ? fallback : v;
}

void out(const QString &text)
{
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

QString cell(const QVariant &v)
{
    if (v.isNull())
        return QString();
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (v.typeId() == QMetaType::QByteArray)
        return QStringLiteral("<%1 bytes>").arg(v.toByteArray().size());
    return v.toString().replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

void printPacket(const QByteArray &bytes)
{
    const quillon::DataPacket p = quillon::DataPacket::fromBinary(bytes);
    QStringList head;
    for (const auto &f : p.fields)
        head.append(f.name);
    out(head.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    for (const QVariantList &row : p.rows) {
        QStringList cells;
        for (const QVariant &v : row)
            cells.append(cell(v));
        out(cells.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    }
    std::fprintf(stderr, "(%lld rows)\n", qlonglong(p.rows.size()));
}

QByteArray readLocal(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

QCborValue argValue(ParamKind kind, const QString &text)
{
    switch (kind) {
    case ParamKind::Int32: {
        bool ok = false;
        const int v = text.toInt(&ok);
        if (!ok)
            throw std::runtime_error("not an integer: " + text.toStdString());
        return v;
    }
    case ParamKind::Boolean:
        return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1");
    case ParamKind::Stream:
    case ParamKind::JsonBytes:
    case ParamKind::Packet:
        return text.startsWith(QLatin1Char('@')) ? readLocal(text.mid(1)) : text.toUtf8();
    case ParamKind::Object:
    case ParamKind::Variant:
        if (text == QLatin1String("null"))
            return QCborValue(QCborValue::Null);
        return text;
    case ParamKind::Text:
        return text;
    }
    return text;
}

int run(QStringList args)
{
    Transport::Options o;
    o.host = env("WAYLINK_HOST", QStringLiteral("127.0.0.1"));
    o.port = env("WAYLINK_PORT", QStringLiteral("8801")).toInt();
    QString site = env("WAYLINK_SITE"), user = env("WAYLINK_USER"), password = env("WAYLINK_PASSWORD");
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        auto value = [&]() {
            if (args.isEmpty())
                throw std::runtime_error("missing value after " + opt.toStdString());
            return args.takeFirst();
        };
        if (opt == QLatin1String("--host")) o.host = value();
        else if (opt == QLatin1String("--port")) o.port = value().toInt();
        else if (opt == QLatin1String("--tls")) o.tls = true;
        else if (opt == QLatin1String("--insecure")) o.verifyPeer = false;
        else if (opt == QLatin1String("--ca")) o.caCertFile = value();
        else if (opt == QLatin1String("--site")) site = value();
        else if (opt == QLatin1String("--user")) user = value();
        else if (opt == QLatin1String("--password")) password = value();
        else if (opt == QLatin1String("--help")) { out(QString::fromLatin1(kUsage)); return 0; }
        else throw std::runtime_error("unknown option " + opt.toStdString());
    }
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    Transport t(o);
    SessionRequest s;
    s.authenticationUser = AuthUser{QStringLiteral("000000000000"), QStringLiteral("1"), site, user}.join();
    s.authenticationPassword = password;
    s.siteCode = site;
    s.userName = user;
    const SessionReply reply = t.openSession(s);
    const QString command = args.takeFirst();

    if (command == QLatin1String("session")) {
        for (auto it = reply.user.constBegin(); it != reply.user.constEnd(); ++it)
            out(it.key().toString() + QLatin1Char('=') + it.value().toVariant().toString() + QLatin1Char('\n'));
        return 0;
    }
    if (command == QLatin1String("query")) {
        if (args.isEmpty())
            throw std::runtime_error("query needs an SQL text");
        const QString sql = args.takeFirst();
        QCborArray params;
        for (const QString &p : std::as_const(args))
            params.append(p);
        printPacket(t.provider(sql, args.isEmpty() ? QCborValue() : QCborValue(params)));
        return 0;
    }
    if (command == QLatin1String("call")) {
        if (args.isEmpty())
            throw std::runtime_error("call needs a method name");
        const QString method = args.takeFirst();
        const MethodInfo *info = findMethod(method);
        if (!info)
            throw std::runtime_error("unknown method " + method.toStdString());
        QCborArray request;
        for (int i = 0; i < info->requestCount(); ++i) {
            const ParamInfo &p = info->params.at(size_t(i));
            if (p.dir == ParamDir::Out) {
                request.append(QCborValue());
                continue;
            }
            if (args.isEmpty())
                throw std::runtime_error(std::string("missing argument ") + p.name);
            request.append(argValue(p.kind, args.takeFirst()));
        }
        const QCborArray result = t.callMethod(method, request);
        for (int i = 0; i < info->positionCount() && i < result.size(); ++i) {
            const ParamInfo &p = info->params.at(size_t(i));
            if (p.dir == ParamDir::In)
                continue;
            const QCborValue v = result.at(i);
            if (p.kind == ParamKind::Packet || (v.isByteArray() && method == QLatin1String("ApplyData"))) {
                printPacket(v.toByteArray());
                continue;
            }
            QString text = v.isByteArray() ? QString::fromUtf8(v.toByteArray()) : v.toVariant().toString();
            if (v.isBool())
                text = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
            out(QLatin1String(p.name) + QStringLiteral(": ") + text + QLatin1Char('\n'));
        }
        return 0;
    }
    if (command == QLatin1String("upload") && args.size() == 2) {
        const QCborArray r = t.callMethod(QStringLiteral("MyUpDownFile"),
                                          {args.at(1), readLocal(args.at(0)), QCborValue(), 0});
        out(r.at(4).toBool() ? QStringLiteral("uploaded\n") : QStringLiteral("refused\n"));
        return r.at(4).toBool() ? 0 : 1;
    }
    if (command == QLatin1String("download") && args.size() == 2) {
        const QCborArray r = t.callMethod(QStringLiteral("MyUpDownFile"),
                                          {args.at(0), QByteArray(), QCborValue(), 1});
        if (!r.at(4).toBool()) {
            std::fprintf(stderr, "no such file on the server\n");
            return 1;
        }
        QFile f(args.at(1));
        if (!f.open(QIODevice::WriteOnly) || f.write(r.at(2).toByteArray()) < 0)
            throw std::runtime_error("cannot write " + args.at(1).toStdString());
        out(QStringLiteral("downloaded %1 bytes\n").arg(r.at(2).toByteArray().size()));
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments().mid(1));
    } catch (const ProtocolError &e) {
        std::fprintf(stderr, "waylink-sql: %s\n", qPrintable(e.message()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "waylink-sql: %s\n", e.what());
    }
    return 1;
}
