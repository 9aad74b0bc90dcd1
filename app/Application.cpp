#include "Application.h"

#include "PanelFont.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <QProxyStyle>

namespace app {
namespace {

constexpr int kPanelPointSize = 8;

// Accelerator underlines appear only while Alt is held, as on the desktop the
// panel comes from; captions such as "ILED & & PWM Set Up" rely on it.
class PanelStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        if (hint == SH_UnderlineShortcut)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

}  // namespace

QString applicationTitle(const QString& programPath)
{
    const QString stem = QFileInfo(programPath).fileName().section(QLatin1Char('.'), 0, 0);
    return stem.left(1) + stem.mid(1).toLower();
}

QFont panelFont()
{
    for (const char* family : panelFontFamilies()) {
        if (QFontDatabase::isSmoothlyScalable(QString::fromLatin1(family)))
            return QFont(QString::fromLatin1(family), kPanelPointSize);
    }
    return QFont(QString(), kPanelPointSize);
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv), title_(applicationTitle(QApplication::applicationFilePath()))
{
    setFont(panelFont());
    setStyle(new PanelStyle);
}

QString boxTitle()
{
    const auto* application = qobject_cast<const Application*>(QCoreApplication::instance());
    return application ? application->title() : applicationTitle(QCoreApplication::applicationFilePath());
}

void showError(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, boxTitle(), message, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

}  // namespace app
