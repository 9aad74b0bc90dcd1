#include "Application.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>

#include <exception>

namespace app {
namespace {

constexpr const char* kWineSansSerif = "/usr/share/wine/fonts/ms_sans_serif.ttf";
constexpr int kPanelPointSize = 8;

}  // namespace

QString applicationTitle(const QString& programPath)
{
    const QString name = QFileInfo(programPath).fileName();
    const QString stem = name.left(name.indexOf(QLatin1Char('.')) < 0 ? name.size()
                                                                        : name.indexOf(QLatin1Char('.')));
    if (stem.isEmpty())
        return stem;
    return stem.left(1) + stem.mid(1).toLower();
}

QFont panelFont()
{
    static const bool loaded = QFileInfo::exists(QString::fromLatin1(kWineSansSerif))
        && QFontDatabase::addApplicationFont(QString::fromLatin1(kWineSansSerif)) >= 0;
    Q_UNUSED(loaded);
    for (const char* family : {"MS Sans Serif", "Tahoma", "Liberation Sans", "DejaVu Sans"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family)))
            return QFont(QString::fromLatin1(family), kPanelPointSize);
    }
    return QFont(QString(), kPanelPointSize);
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv), title_(applicationTitle(QApplication::applicationFilePath()))
{
    setFont(panelFont());
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
    return false;
}

void Application::showError(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, title_, message, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

}  // namespace app
