#pragma once
// The application object: the panel's font, its title, and the one place
// where an error escaping a handler is caught and shown.

#include <QApplication>

namespace app {

// The program file's name up to its first ".", every character after the
// first in lower case ("KRL7741AT.exe" gives "Krl7741at").
QString applicationTitle(const QString& programPath);

// The panel's font: "MS Sans Serif" at 8 points where it can be had (the
// bitmap face that ships with Debian's fonts-wine), else a close sans serif.
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
