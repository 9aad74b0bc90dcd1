#pragma once
// The application object: the panel's font, its title, and the one place
// where an error escaping a handler is caught and shown.

#include <QApplication>

namespace app {

// The program file's name up to its first ".", every character after the
// first in lower case ("KRL7741AT.exe" gives "Krl7741at").
QString applicationTitle(const QString& programPath);

// The panel's font: 8 points of "MS Sans Serif" where it is installed as a
// scalable face, else Liberation Sans (Debian's fonts-liberation), whose
// widths and true bold keep every caption within its place.
QFont panelFont();

class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    // Delivers one event; an error raised by its handler ends that handler
    // and is shown in a modal error box, and the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;

    QString title() const { return title_; }

private:
    void showError(const QString& message);

    QString title_;
};

}  // namespace app
