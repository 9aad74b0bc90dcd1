#pragma once
// The status bar clock's text: the locale's short date, a blank, and the time
// as hours, minutes and seconds in the locale's own way; the date alone at
// exactly midnight.

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace app {

// The time part's format, in QLocale::toString's pattern letters.
QString clockTimeFormat(const QLocale& locale);

QString clockText(const QDateTime& now, const QLocale& locale);

}  // namespace app
