#include "modules/herald/form1.h"

#include "richedit/richeditor.h"

#include <QVBoxLayout>

namespace herald {

TForm1::TForm1(QWidget *parent)
    : QWidget(parent)
    , LMDRichEdit(new richedit::RichEditor(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    LMDRichEdit->setObjectName(QStringLiteral("LMDRichEdit"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(LMDRichEdit);
    resize(800, 600);
}

} // namespace herald
