#pragma once
// A widget given its object name, by which tests and the screenshot tool find it.

#include <QString>

namespace monitor {

template <typename W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace monitor
