#pragma once
// The trace's filter chosen as a person would (keys on its list), and the
// counts under a trace read as one text:
// "Shown: 2 of 4, Acknowledged: 0, NACK: 2, No answer: 0, Bridge lost: 0, Stray: 0".

#include "Focus.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QStringList>

namespace testing_support {

inline void chooseFilter(QWidget& window, int index)
{
    auto* filter = window.findChild<QComboBox*>(QStringLiteral("Filter"));
    if (!filter)
        return;
    focusOn(*filter);
    QTest::keyClick(filter, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(filter, Qt::Key_Down);
}

inline QString countsShown(QWidget& window)
{
    QCoreApplication::processEvents();  // the counts follow when the event loop runs
    QStringList texts;
    for (const char* name :
         {"ShownCount", "AckCount", "NackCount", "NoAnswerCount", "BridgeLostCount", "StrayCount"}) {
        const auto* label = window.findChild<QLabel*>(QLatin1String(name));
        texts << (label ? label->text() : QStringLiteral("(no %1)").arg(QLatin1String(name)));
    }
    return texts.join(QStringLiteral(", "));
}

}  // namespace testing_support
