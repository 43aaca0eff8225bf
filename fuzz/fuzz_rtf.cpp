// The RTF reader as the notice windows use it on stored and pasted text: damaged input
// loads what can be read and lists its warnings; nothing crashes or hangs.
#include "harness.h"

#include "richedit/rtfreader.h"
#include "richedit/rtfwriter.h"

#include <QGuiApplication>
#include <QTextDocument>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::makeApplication<QGuiApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray rtf = fuzz::bytes(data, size);
    QTextDocument doc;
    richedit::RtfReader reader;
    if (!reader.read(rtf, &doc))
        return 0;
    // What was read writes again and reads back.
    QTextDocument again;
    richedit::RtfReader second;
    if (!second.read(richedit::RtfWriter().write(&doc), &again))
        fuzz::fault();
    return 0;
}
