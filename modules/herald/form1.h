#pragma once

#include <QWidget>

namespace richedit {
class RichEditor;
}

namespace herald {

// The stand-alone editor window: the rich-text editor with its commands, nothing stored.
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    richedit::RichEditor *LMDRichEdit;
};

} // namespace herald
