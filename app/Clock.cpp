#include "Clock.h"

#include <QRegularExpression>

namespace app {
namespace {

// The locale's long time format without its time zone: hours, minutes,
// seconds and, where the locale has one, the AM/PM designator.
QString timeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

}  // namespace

QString clockText(const QDateTime& now, const QLocale& locale)
{
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QTime time = now.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;
    return date + QLatin1Char(' ') + locale.toString(time, timeFormat(locale));
}

}  // namespace app
