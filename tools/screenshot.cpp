// Takes screenshots of the panel on the virtual evaluation board while a
// "SEQ#3" ramp plays, on a real X server (run it under Xvfb):
//   screenshot OUTPUT_DIR [board|monitor]
// writes panel.png, board.png (the virtual evaluation board) or monitor.png
// (the bus monitor), side-by-side.png (both windows) and screen.png (the whole
// screen).
//   screenshot OUTPUT_DIR review
// writes review.png: a night's log (300 000 exchanges) open for review, as
// KRL7741AT --review opens it.

#include "Application.h"
#include "Beside.h"
#include "BoardWindow.h"
#include "LongLog.h"
#include "MonitorWindow.h"
#include "Record.h"
#include "RecordingHost.h"
#include "ReviewChart.h"
#include "ReviewWindow.h"
#include "TForm1.h"
#include "TrackBar.h"
#include "VirtualBridge.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>

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

// Both windows on a plain desktop-grey background, tops level.
QPixmap sideBySide(const QPixmap& left, const QPixmap& right)
{
    constexpr int margin = 12;
    QPixmap canvas(left.width() + right.width() + 3 * margin,
                   std::max(left.height(), right.height()) + 2 * margin);
    canvas.fill(QColor(0x5A, 0x6E, 0x7F));
    QPainter painter(&canvas);
    painter.drawPixmap(margin, margin, left);
    painter.drawPixmap(2 * margin + left.width(), margin, right);
    return canvas;
}

// A long log open for review, the chart zoomed in, the failures only in the
// trace.
int review(const QDir& out)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("night.jsonl"));
    if (!tools::writeLongLog(path, 300000))
        return 1;
    monitor::ReviewWindow window;
    window.move(16, 16);
    window.resize(900, 700);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    window.open(path);
    for (int waited = 0; window.loading()->reading() && waited < 600; ++waited)
        QTest::qWait(100);
    auto* filter = window.findChild<QComboBox*>(QStringLiteral("Filter"));
    filter->setCurrentIndex(1);

    // Four seconds half an hour in: the ramps' staircases, NACKs marked under them.
    window.findChild<monitor::ReviewChart*>(QStringLiteral("Chart"))->setSpan(1800000, 1804000);
    QTest::qWait(200);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect frame = window.frameGeometry();
    return save(screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()),
                out.filePath(QStringLiteral("review.png")))
        ? 0
        : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    const bool monitor = argc > 2 && QByteArray(argv[2]) == "monitor";
    if (argc > 2 && QByteArray(argv[2]) == "review")
        return review(out);

    virtualboard::VirtualBridge board;
    app::Recording traffic(board);
    std::unique_ptr<QWidget> beside;
    if (monitor)
        beside = std::make_unique<monitor::MonitorWindow>(traffic.record);
    else
        beside = std::make_unique<virtualboard::BoardWindow>(board, traffic.record);
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 form(traffic.recorded);
    form.move(16, 16);
    form.show();
    beside->move(form.frameGeometry().right() + 9, 16);
    beside->show();
    if (!QTest::qWaitForWindowExposed(&form) || !QTest::qWaitForWindowExposed(beside.get()))
        return 1;

    // Set up the chip as an operator would, then play "SEQ#3".
    for (const auto& [name, presses] : {std::pair{"ILEDslider", 24}, {"ILED_UP", 6}, {"GD_START", 12}}) {
        auto* slider = form.findChild<toolkit::TrackBar*>(QString::fromLatin1(name));
        slider->setFocus();
        for (int i = 0; i < presses; ++i)
            QTest::keyClick(slider, Qt::Key_Right);
    }
    // A radio button takes a click on its circle or its text only. Clicked in
    // its middle (QTest's default), SEQ#3 stays unselected wherever the face is
    // narrow enough that the text ends first, as Windows' faces are: SEQ#1's
    // ramp would run instead.
    auto* seq3 = form.findChild<QRadioButton*>("SEQ3");
    QStyleOptionButton option;
    option.initFrom(seq3);
    option.text = seq3->text();
    QTest::mouseClick(seq3, Qt::LeftButton, {},
                      seq3->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, seq3).center());
    QTest::mouseClick(form.findChild<QCheckBox*>("RUN_SEQ"), Qt::LeftButton);
    // Past both hand-overs (at 50 ms a step: LED3 done at 1.6 s, LED2's second
    // ramp at 3.1 s), with LED1's last ramp under way: the chart shows the
    // whole staircase.
    QTest::qWait(3600);

    QScreen* screen = QGuiApplication::primaryScreen();
    auto grab
        = [screen](const QRect& r) { return screen->grabWindow(0, r.x(), r.y(), r.width(), r.height()); };
    const QRect panel = form.frameGeometry();
    const QRect besideFrame = beside->frameGeometry();
    const bool ok = save(grab(panel), out.filePath(QStringLiteral("panel.png")))
        && save(grab(besideFrame),
                out.filePath(monitor ? QStringLiteral("monitor.png") : QStringLiteral("board.png")))
        && save(sideBySide(grab(panel), grab(besideFrame)), out.filePath(QStringLiteral("side-by-side.png")))
        && save(screen->grabWindow(0), out.filePath(QStringLiteral("screen.png")));
    return ok ? 0 : 1;
}
