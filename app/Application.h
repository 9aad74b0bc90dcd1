#pragma once
// The application object: the panel's font and its title; and the error box
// an error raised in a handler is shown in.

#include <QApplication>

#include <exception>
#include <utility>

namespace app {

// The program file's name up to its first ".", every character after the
// first in lower case ("KRL7741AT.exe" gives "Krl7741at").
QString applicationTitle(const QString& programPath);

// The panel's font: 8 points of the first of the system's faces
// (panelFontFamilies(), PanelFont.h) installed as a scalable face: on Linux
// Liberation Sans (Debian's fonts-liberation), whose widths and true bold keep
// every caption within its place; on Windows Microsoft Sans Serif.
QFont panelFont();

class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    QString title() const { return title_; }

private:
    QString title_;
};

// The caption of the program's message boxes: the application's title.
QString boxTitle();

// The error box: a modal critical message box with an OK button, the
// application's title as caption and `message` as text.
void showError(const QString& message);

// Runs one handler. An error it raises ends the handler there and is shown
// in the error box; nothing unwinds into Qt's event dispatch, which is built
// without exception support. Every handler the window binds is called
// through here.
template <typename Handler>
void runHandler(Handler&& handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        showError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
}

}  // namespace app
