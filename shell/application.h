#pragma once
// The program's application object: its event dispatch is the error display of last
// resort (see errordisplay.h). It speaks Chinese: Qt's own dialogs and buttons take the
// translations of the distribution.

#include <QApplication>

namespace shell {

class WaylinkApplication : public QApplication
{
    Q_OBJECT
public:
    WaylinkApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Sets the Chinese locale and installs Qt's translations (qtbase, qt) for it, looked for
// in "translations/" beside the program first, then where Qt keeps them. Returns the number
// of catalogues installed (0 when none was found: Qt's texts then stay English).
int installChineseTranslations(QCoreApplication *app);

// Makes Qt's system locale format dates in Chinese (LC_TIME, unless LC_ALL fixes every
// category or the dates are Chinese already). Takes effect only before the application
// object exists; WaylinkApplication calls it.
void preferChineseDates();

// Sends warnings and worse also to `file` (appended, one line each, with the time), so
// that the technical side of errors the user saw can be found later.
void installLogFile(const QString &file);

} // namespace shell
