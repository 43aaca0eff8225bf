#pragma once

#include <QColor>
#include <QString>

class QObject;

namespace tessera {

// Directory of the running executable with a trailing slash. Tests and embedders may
// point it elsewhere; every file that Tessera reads "beside the executable" (message
// table, configuration, layouts, reports, logos) is found under it.
QString appPath();
void setAppPath(const QString &dir);

// Full name of the executable's configuration file: the executable's name with ".ini".
QString configFileName();
void setConfigFileName(const QString &fileName);

// The start parameters the host hands to the window being created (empty for none). The
// host sets the application's dynamic property "Tag" to the text before creating it.
QString applicationTagText();

// The screen's tag: 1 asks for Traditional Chinese display of the dialogs. Kept as the
// application's dynamic property "ScreenTag" so the host sets it without linking Tessera.
int screenTag();
void setScreenTag(int tag);

// A component's tag, the integer the forms use for small per-control flags (Enter stays in
// a control with a non-zero tag; a form with tag 9 opens with its option panel collapsed).
int tagOf(const QObject *object);
void setTag(QObject *object, int tag);

// Colours of the configuration are 32-bit values in the byte order 0x00BBGGRR.
QColor colorFromBgr(qint64 value);
qint64 bgrFromColor(const QColor &color);

} // namespace tessera
