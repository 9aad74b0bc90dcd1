// Takes screenshots of the panel on the virtual evaluation board while a
// "SEQ#3" ramp plays, on a real X server (run it under Xvfb):
//   screenshot OUTPUT_DIR
// writes panel.png (the panel window) and screen.png (the whole screen).

#include "Application.h"
#include "TForm1.h"
#include "TrackBar.h"
#include "VirtualBridge.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

#include <cstdio>

namespace {

bool save(const QPixmap& picture, const QString& path)
{
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s: %dx%d\n", qPrintable(path), picture.width(), picture.height());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    virtualboard::VirtualBridge board;
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 form(board);
    form.move(16, 16);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;

    // Set up the chip as an operator would, then play "SEQ#3".
    for (const auto& [name, presses] : {std::pair{"ILEDslider", 24}, {"ILED_UP", 6}, {"GD_START", 12}}) {
        auto* slider = form.findChild<toolkit::TrackBar*>(QString::fromLatin1(name));
        slider->setFocus();
        for (int i = 0; i < presses; ++i)
            QTest::keyClick(slider, Qt::Key_Right);
    }
    QTest::mouseClick(form.findChild<QRadioButton*>("SEQ3"), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QCheckBox*>("RUN_SEQ"), Qt::LeftButton);
    QTest::qWait(900);

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect frame = form.frameGeometry();
    const bool ok = save(screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()),
                         out.filePath(QStringLiteral("panel.png")))
        && save(screen->grabWindow(0), out.filePath(QStringLiteral("screen.png")));
    return ok ? 0 : 1;
}
