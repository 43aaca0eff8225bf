#include "shell/clientconfig.h"

#include <algorithm>

#include "host/errors.h"
#include "host/passwordverifier.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace shell {

namespace {

QString decodeText(const QByteArray &bytes)
{
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(data);
        if (!utf8.hasError())
            return text;
    }
    QStringDecoder gb("GB18030", QStringDecoder::Flag::Stateless);
    if (gb.isValid()) {
        QString text = gb.decode(data);
        if (!gb.hasError())
            return text;
    }
    return QString::fromLatin1(data);
}

QString fileLabel(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString reasonOf(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const host::UserError &err) {
        return err.message();
    } catch (const std::exception &err) {
        return QString::fromUtf8(err.what());
    } catch (...) {
        return QStringLiteral("未知错误");
    }
}

} // namespace

bool readTextLines(const QString &path, QStringList *lines, QString *error)
{
    lines->clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.exists() ? f.errorString() : QStringLiteral("文件不存在");
        return false;
    }
    const QString text = decodeText(f.readAll());
    *lines = text.split(u'\n');
    for (QString &l : *lines) {
        if (l.endsWith(u'\r'))
            l.chop(1);
    }
    // A final line break does not start another line.
    if (!lines->isEmpty() && lines->last().isEmpty())
        lines->removeLast();
    return true;
}

LoadReport appendMessageTable(const QString &path, host::VarList &vars)
{
    LoadReport r;
    QStringList lines;
    QString error;
    if (!readTextLines(path, &lines, &error)) {
        r.problems.append(
            QStringLiteral("消息文件“%1”无法读取（%2），提示信息将不完整。").arg(path, error));
        return r;
    }
    r.fileFound = true;
    vars.appendLines(lines);
    r.linesAdded = int(lines.size());
    return r;
}

LoadReport appendConfigFile(const QString &path, host::VarList &vars, const LineDecryptor &decrypt)
{
    LoadReport r;
    QStringList lines;
    QString error;
    if (!readTextLines(path, &lines, &error)) {
        r.problems.append(
            QStringLiteral("配置文件“%1”无法读取（%2），将使用默认设置。").arg(path, error));
        return r;
    }
    r.fileFound = true;
    const bool plain = !lines.isEmpty() && lines.first() == QLatin1String("[Config]");
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        if (plain) {
            vars.append(line);
            ++r.linesAdded;
            continue;
        }
        try {
            vars.append(decrypt(line));
            ++r.linesAdded;
        } catch (...) {
            // Colour lines ("C_...") are kept plain in the encrypted form.
            if (line.contains(QLatin1String("C_"))) {
                vars.append(line);
                ++r.linesAdded;
                continue;
            }
            ++r.linesRejected;
            r.problems.append(QStringLiteral("配置文件“%1”第 %2 行无法解密，已跳过：%3")
                                  .arg(fileLabel(path))
                                  .arg(i + 1)
                                  .arg(reasonOf(std::current_exception())));
        }
    }
    return r;
}

LoadReport appendLocalData(const QString &path, host::VarList &vars, const LineDecryptor &decrypt)
{
    LoadReport r;
    if (!QFileInfo::exists(path))
        return r;
    QStringList lines;
    QString error;
    if (!readTextLines(path, &lines, &error)) {
        r.problems.append(QStringLiteral("脱机登录缓存“%1”无法读取（%2）。").arg(path, error));
        return r;
    }
    r.fileFound = true;
    for (const QString &line : std::as_const(lines)) {
        if (line.trimmed().isEmpty())
            continue;
        try {
            vars.append(decrypt(line));
            ++r.linesAdded;
        } catch (...) {
            ++r.linesRejected;
        }
    }
    if (r.linesRejected > 0) {
        r.problems.append(QStringLiteral("脱机登录缓存“%1”有 %2 行无法解密，已跳过。")
                              .arg(fileLabel(path))
                              .arg(r.linesRejected));
    }
    return r;
}

QStringList localDataLines(const host::VarList &vars)
{
    static const char *const names[] = {"LogOnSiteCode", "LogOnUser",    "LogOnPass",
                                        "LogOnTime",     "LogOnFinance", "LogOnBelongSite",
                                        "LogOnFBType"};
    QStringList out;
    for (const char *n : names) {
        const QString name = QString::fromLatin1(n);
        QString value = vars.value(name);
        // The password itself never reaches the file: a salted verifier takes its place.
        if (name == QLatin1String("LogOnPass") && !host::isPasswordVerifier(value))
            value = host::passwordVerifier(value);
        out.append(name + u'=' + value);
    }
    return out;
}

QString skinName(const QString &sysType, const QString &backSkin)
{
    QString family;
    if (sysType == QLatin1String("1"))
        family = QStringLiteral("Skinkd");
    else if (sysType == QLatin1String("2"))
        family = QStringLiteral("Skinwl");
    else if (sysType == QLatin1String("3"))
        family = QStringLiteral("Skinps");
    else if (sysType == QLatin1String("4"))
        family = QStringLiteral("Skincc");
    else
        return {};
    return family + backSkin;
}

QSize initialWindowSize(const QRect &workArea)
{
    QSize s(1170, 777);
    if (workArea.isValid()) {
        if (workArea.width() < s.width())
            s.setWidth(workArea.width());
        if (workArea.height() < s.height())
            s.setHeight(workArea.height());
    }
    return s;
}

int logOnPanelLeft(int windowWidth, int panelWidth)
{
    // Centred: the panel's middle on the window's middle, on any screen size.
    return std::max(0, qRound((windowWidth - panelWidth) / 2.0));
}

QStringList splitServerList(const QString &svrLst)
{
    QStringList out;
    const qsizetype n = svrLst.size();
    qsizetype i = 0;
    auto isBlank = [](QChar c) { return c.unicode() <= u' '; };
    while (i < n) {
        while (i < n && isBlank(svrLst.at(i)))
            ++i;
        if (i >= n)
            break;
        QString item;
        if (svrLst.at(i) == u'"') {
            ++i;
            while (i < n) {
                if (svrLst.at(i) == u'"') {
                    if (i + 1 < n && svrLst.at(i + 1) == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += svrLst.at(i++);
            }
            // Text glued to a closing quote belongs to the same item.
            while (i < n && !isBlank(svrLst.at(i)) && svrLst.at(i) != u';')
                item += svrLst.at(i++);
        } else {
            while (i < n && !isBlank(svrLst.at(i)) && svrLst.at(i) != u';')
                item += svrLst.at(i++);
        }
        if (!item.isEmpty())
            out.append(item);
        while (i < n && isBlank(svrLst.at(i)))
            ++i;
        if (i < n && svrLst.at(i) == u';')
            ++i;
    }
    return out;
}

int notifyIntervalSeconds(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < 0)
        return 60;
    return v;
}

int moduleWidthValue(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : 0;
}

bool closeBlockedByFlag(int openPages, const QString &closeFlag)
{
    return openPages > 0 && closeFlag == QLatin1String("1");
}

bool noticeCheckDue(quint32 lastTick, quint32 now)
{
    return quint32(now - lastTick) >= 60000u;
}

} // namespace shell
