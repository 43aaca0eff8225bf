#pragma once
// The program's application object: its event dispatch is the error display of last
// resort (see errordisplay.h).

#include <QApplication>

namespace shell {

class WaylinkApplication : public QApplication
{
    Q_OBJECT
public:
    WaylinkApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace shell
