// waylink-cipher: encrypts or decrypts text lines with the deployment's line cipher, so
// an administrator can write the encrypted configuration file.
//
//   waylink-cipher encrypt < waylink.plain.ini > waylink.ini
//   waylink-cipher decrypt < waylink.ini
//   waylink-cipher --key-file site.key encrypt < lines.txt
//   waylink-cipher --config encrypt < waylink.plain.ini > waylink.ini
// With --config, lines holding "C_" (the colour settings) stay plain both ways, as the
// program keeps them in an encrypted configuration file.
#include "host/errors.h"
#include "host/linecipher.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: waylink-cipher [--key TEXT | --key-file FILE] [--config] encrypt|decrypt\n"
               "  Reads lines on standard input and writes one line out per line in.\n"
               "  Blank lines stay blank. The key defaults to WAYLINK_CIPHER_KEY, then\n"
               "  waylink.key beside the program, then the built-in demo key.\n"
               "  --config keeps lines holding \"C_\" plain (configuration files).\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString keyText;
    bool haveKey = false;
    QString mode;
    bool config = false;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--key") && !args.isEmpty()) {
            keyText = args.takeFirst();
            haveKey = true;
        } else if (a == QLatin1String("--key-file") && !args.isEmpty()) {
            QFile f(args.takeFirst());
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "waylink-cipher: cannot read key file %s\n",
                             qPrintable(f.fileName()));
                return 1;
            }
            keyText = QString::fromUtf8(f.readLine()).trimmed();
            haveKey = true;
        } else if (a == QLatin1String("--config")) {
            config = true;
        } else if ((a == QLatin1String("encrypt") || a == QLatin1String("decrypt")) &&
                   mode.isEmpty()) {
            mode = a;
        } else {
            return usage();
        }
    }
    if (mode.isEmpty())
        return usage();
    if (haveKey && keyText.isEmpty()) {
        std::fputs("waylink-cipher: the key is empty\n", stderr);
        return 1;
    }

    const host::LineCipher cipher =
        haveKey ? host::LineCipher(keyText) : host::LineCipher::deploymentCipher();
    QTextStream in(stdin);
    in.setEncoding(QStringConverter::Utf8);
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);
    int lineNo = 0;
    int failures = 0;
    QString line;
    while (in.readLineInto(&line)) {
        ++lineNo;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty()) {
            out << '\n';
            continue;
        }
        if (config && line.contains(QLatin1String("C_")) &&
            !host::LineCipher::looksEncrypted(line)) {
            out << line << '\n';
            continue;
        }
        if (mode == QLatin1String("encrypt")) {
            out << cipher.encrypt(line) << '\n';
            continue;
        }
        try {
            out << cipher.decrypt(line) << '\n';
        } catch (const host::UserError &e) {
            ++failures;
            out.flush();
            std::fprintf(stderr, "waylink-cipher: line %d: %s\n", lineNo, e.what());
        }
    }
    out.flush();
    return failures ? 1 : 0;
}
