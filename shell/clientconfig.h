#pragma once
// Start-up rules of the main window that need no window: reading the message table, the
// configuration file (plain or encrypted) and the offline cache into the shared variable
// list, the skin choice, window geometry and the small value parsers.
//
// Loaders never throw for a missing or damaged file: they report what went wrong in
// LoadReport::problems (each text names the file, and the line where there is one), load
// everything that can be loaded, and let the start-up go on.

#include "host/varlist.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

namespace shell {

struct LoadReport
{
    bool fileFound = false;
    int linesAdded = 0;
    int linesRejected = 0;
    QStringList problems;
};

using LineDecryptor = std::function<QString(const QString &)>; // throws on failure

// Reads a text file into lines: UTF-8, or the Chinese 8-bit code page (GB18030) when the
// bytes are not UTF-8; a byte-order mark is dropped; CR LF and LF both end lines.
// Returns false (and leaves `lines` empty) when the file cannot be read.
bool readTextLines(const QString &path, QStringList *lines, QString *error = nullptr);

// Appends every line of the message table, section headers included, unchanged.
LoadReport appendMessageTable(const QString &path, host::VarList &vars);

// Appends the configuration file. When its first line is exactly "[Config]" the file is
// plain and every non-blank line is appended; otherwise every non-blank line is decrypted
// and the result appended; colour lines (holding "C_") are kept plain in that form and
// taken as they are. Any other line that does not decrypt is reported and skipped.
LoadReport appendConfigFile(const QString &path, host::VarList &vars, const LineDecryptor &decrypt);

// Appends the offline cache: every line decrypted; a line that does not decrypt is
// skipped. A missing cache is not a problem.
LoadReport appendLocalData(const QString &path, host::VarList &vars, const LineDecryptor &decrypt);

// The seven cache lines, in their order, from the current variables; "LogOnPass" holds a
// salted verifier of the password (host::passwordVerifier), never the password.
QStringList localDataLines(const host::VarList &vars);

// Skin family from "SysType" ("1" Skinkd, "2" Skinwl, "3" Skinps, "4" Skincc) followed by
// "BackSkin"; empty for any other "SysType".
QString skinName(const QString &sysType, const QString &backSkin);

// The start-up size 1170 x 777, each side limited to the work area's.
QSize initialWindowSize(const QRect &workArea);

// Left edge of the log-on panel (289 wide by design): centred in the window.
int logOnPanelLeft(int windowWidth, int panelWidth = 289);

// Server names of "SvrLst": ";" separates, and so do blanks and control characters outside
// double quotes ("a b" keeps its blank when quoted; "" inside quotes is one quote).
// Empty names are dropped.
QStringList splitServerList(const QString &svrLst);

// "NotifyInterval" in seconds: 60 when absent, not a number or negative; 0 stays 0 (no
// ticks).
int notifyIntervalSeconds(const QString &text);

// "ModuleWidth": the number, or 0 when absent or not a number.
int moduleWidthValue(const QString &text);

// Closing is refused while module windows are open and "CloseFlag" is "1".
bool closeBlockedByFlag(int openPages, const QString &closeFlag);

// The notice check of the monitor timer: due when at least one minute (60000 ms, on the
// unsigned 32-bit tick counter, so a wrapped counter still works) has passed since the
// last successful check.
bool noticeCheckDue(quint32 lastTick, quint32 now);

} // namespace shell
