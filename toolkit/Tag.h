#pragma once
// Every control and timer carries one integer, its tag, 0 until set. The panel
// keeps small counters there (the NACK count on the message line, the ramp
// step on each ramp timer).

#include <QObject>
#include <QVariant>

namespace toolkit {

inline int tag(const QObject& object) { return object.property("Tag").toInt(); }
inline void setTag(QObject& object, int value) { object.setProperty("Tag", value); }

}  // namespace toolkit
