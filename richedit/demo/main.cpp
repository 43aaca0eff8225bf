// A stand-alone window with the notice editor, for trying RTF files by hand:
//   waylink-richedit [file.rtf]
#include "richedit/richeditor.h"

#include "host/errors.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    richedit::RichEditor editor;
    editor.setWindowTitle(QStringLiteral("RichEdit"));
    editor.resize(900, 600);
    if (argc > 1) {
        try {
            editor.LoadFromFile(QString::fromLocal8Bit(argv[1]));
        } catch (const host::UserError &e) {
            QMessageBox::critical(nullptr, QStringLiteral("错误"), e.message());
        }
    }
    editor.show();
    return app.exec();
}
