#pragma once
// Keeping a window on the screen: where a window's frame goes so that it lies
// within the room the screen leaves for windows, moved no further than it must.

#include <QPoint>
#include <QRect>

#include <algorithm>

namespace toolkit {

// The top left corner of `frame` moved into `room`; a frame larger than the
// room keeps its top left corner in it (its title bar stays reachable).
inline QPoint keptWithin(const QRect& frame, const QRect& room)
{
    const int x = std::clamp(frame.x(), room.left(), std::max(room.left(), room.right() + 1 - frame.width()));
    const int y = std::clamp(frame.y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.height()));
    return {x, y};
}

}  // namespace toolkit
