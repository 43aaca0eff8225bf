// waylink-tour: runs the tour of the program against a running application server and
// writes a screenshot of every window it opens (see scripts/ui-tour).
//   waylink-tour --server HOST:PORT --user USER --out DIR [--size WxH] [FUNCTION...]
#include "shell/application.h"
#include "tests/tour/tour.h"

#include <QCommandLineParser>
#include <QDir>
#include <QPixmap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>

int main(int argc, char **argv)
{
    shell::WaylinkApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("server address"),
                                    QStringLiteral("host:port"), QStringLiteral("127.0.0.1:8801"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("demo user"),
                                  QStringLiteral("user"), QStringLiteral("001.zhang"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("screenshot folder"),
                                 QStringLiteral("dir"), QStringLiteral("tour-shots"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("window size"),
                                  QStringLiteral("WxH"), QStringLiteral("1366x768"));
    parser.addOptions({server, user, out, size});
    parser.addPositionalArgument(QStringLiteral("function"), QStringLiteral("functions to visit"));
    parser.process(app);

    QTemporaryDir program;
    tour::Options o;
    o.programDir = program.path();
    o.deployDir = QCoreApplication::applicationDirPath();
    o.server = parser.value(server);
    o.user = parser.value(user);
    o.only = parser.positionalArguments();
    const QStringList wh = parser.value(size).split(u'x');
    o.windowSize = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    const QString dir = parser.value(out);
    QDir().mkpath(dir);
    int shot = 0;
    o.onWindow = [&](const QString &name, QWidget *window) {
        QCoreApplication::processEvents();
        QString file = name;
        file.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>| ]")), QStringLiteral("_"));
        const QString path = QStringLiteral("%1/%2-%3.png").arg(dir).arg(++shot, 3, 10, QLatin1Char('0')).arg(file);
        window->grab().save(path);
    };
    tour::Tour t(o);
    int problems = 0;
    if (!t.logOn()) {
        for (const QString &p : t.problems())
            std::printf("PROBLEM %s\n", qPrintable(p));
        return 1;
    }
    for (const tour::Step &s : t.run()) {
        std::printf("%-6s %-16s %-28s %s%s\n", qPrintable(s.kind), qPrintable(s.caption),
                    qPrintable(s.function), s.skipped ? "SKIPPED " : "", qPrintable(s.outcome));
        for (const QString &p : s.problems) {
            std::printf("  PROBLEM %s\n", qPrintable(p));
            ++problems;
        }
    }
    for (const QString &p : t.problems()) {
        std::printf("PROBLEM %s\n", qPrintable(p));
        ++problems;
    }
    std::printf("%d screenshots in %s, %d problems\n", shot, qPrintable(dir), problems);
    return problems ? 1 : 0;
}
