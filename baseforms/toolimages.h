#pragma once

#include <QIcon>
#include <QList>

namespace tessera {

// The tool images of the data forms (the action table refers to them by index): 40
// glyphs drawn at 32x32 — 0 new, 1 edit, 2 delete, 3 undo, 4 save, 5 print, 6 refresh,
// 7 query, 10 invert selection, 11 select all, 14 close, 15 upload, 17 export, 18 calculate,
// 20 statistics, 22 chart, 27 clear, 28 configure, 29 collect money, 31 switch side,
// 33 detail, 36 copy; the other indexes hold neutral glyphs.
const QList<QIcon> &toolImageList();
QIcon toolImage(int index);

} // namespace tessera
