#include "Clock.h"

#include <vector>

namespace app {
namespace {

// One piece of a locale's time format: a run of one pattern letter ("HH",
// "mm", "AP"), or literal text with its quotes removed.
struct Piece {
    QChar letter;  // null for literal text
    QString text;
};

std::vector<Piece> pieces(const QString& format)
{
    std::vector<Piece> result;
    auto literal = [&result](QChar c) {
        if (result.empty() || !result.back().letter.isNull())
            result.push_back({QChar(), QString()});
        result.back().text += c;
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            // 'quoted text', where '' stands for one quote
            if (i + 1 < format.size() && format[i + 1] == QLatin1Char('\'')) {
                literal(c);
                i += 2;
                continue;
            }
            for (++i; i < format.size(); ++i) {
                if (format[i] == QLatin1Char('\'')) {
                    if (i + 1 < format.size() && format[i + 1] == QLatin1Char('\'')) {
                        literal(format[i]);
                        ++i;
                        continue;
                    }
                    break;
                }
                literal(format[i]);
            }
            ++i;
        } else if (c.isLetter() && c.unicode() < 0x80) {
            qsizetype end = i;
            while (end < format.size() && format[end] == c)
                ++end;
            if (c.toLower() == QLatin1Char('a') && end < format.size()
                && format[end].toLower() == QLatin1Char('p'))
                ++end;  // "AP", "ap", "aP": one designator
            result.push_back({c, format.mid(i, end - i)});
            i = end;
        } else {
            literal(c);
            ++i;
        }
    }
    return result;
}

bool isHour(const Piece& p) { return p.letter == QLatin1Char('h') || p.letter == QLatin1Char('H'); }
bool isMinute(const Piece& p) { return p.letter == QLatin1Char('m'); }
// "AP", "ap", "A" as Qt writes the AM/PM designator; "B", "b" as the locale
// data names a day period Qt leaves unexpanded.
bool isDayPeriod(const Piece& p)
{
    const QChar l = p.letter.toLower();
    return l == QLatin1Char('a') || l == QLatin1Char('b');
}

QString quoted(QString text)
{
    if (text.isEmpty())
        return text;
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// The literal text between pieces `from` and `to` (exclusive).
QString textBetween(const std::vector<Piece>& all, std::size_t from, std::size_t to)
{
    QString text;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (all[i].letter.isNull())
            text += all[i].text;
    }
    return text;
}

// The literal text at `index`, if that piece is literal text.
QString literalAt(const std::vector<Piece>& all, std::size_t index)
{
    return index < all.size() && all[index].letter.isNull() ? all[index].text : QString();
}

}  // namespace

// Hours as the locale's short time format writes them (with a leading zero
// only where it has one), ":mm:ss" with the locale's time separator, and the
// locale's own AM/PM designator where it counts hours 1 to 12, on the side
// of the hours and with the spacing the locale uses.
QString clockTimeFormat(const QLocale& locale)
{
    const std::vector<Piece> all = pieces(locale.timeFormat(QLocale::ShortFormat));
    std::size_t hour = all.size(), minute = all.size(), period = all.size();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (isHour(all[i]) && hour == all.size())
            hour = i;
        else if (isMinute(all[i]) && minute == all.size())
            minute = i;
        else if (isDayPeriod(all[i]) && period == all.size())
            period = i;
    }
    if (hour == all.size())
        return QStringLiteral("HH:mm:ss");

    QChar separator = QLatin1Char(':');
    if (minute > hour && minute < all.size()) {
        for (const QChar c : textBetween(all, hour, minute)) {
            if (!c.isSpace() && !c.isLetterOrNumber()) {
                separator = c;
                break;
            }
        }
    }
    const QString sep = quoted(separator);
    const QString hours = all[hour].text.size() >= 2 ? all[hour].text.left(2) : all[hour].text;
    QString format = hours + sep + QStringLiteral("mm") + sep + QStringLiteral("ss");

    if (all[hour].letter == QLatin1Char('h')) {
        const QString designator = QStringLiteral("aP");  // the locale's own text, as it is
        if (period == all.size())
            format += QLatin1Char(' ') + designator;
        else if (period < hour)
            format = designator + quoted(literalAt(all, period + 1)) + format;
        else
            format += quoted(literalAt(all, period - 1)) + designator;
    }
    return format;
}

QString clockText(const QDateTime& now, const QLocale& locale)
{
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QTime time = now.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;
    return date + QLatin1Char(' ') + locale.toString(time, clockTimeFormat(locale));
}

}  // namespace app
