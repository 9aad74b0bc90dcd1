#pragma once
// A trace line's columns: the time (12 wide), the command's meaning (29 wide)
// and the exchange's text form, two blanks apart.

#include <QString>
#include <QStringList>

namespace testing_support {

inline QString timeColumn(const QString& line) { return line.left(12).trimmed(); }
inline QString meaningColumn(const QString& line) { return line.mid(14, 29).trimmed(); }
// The exchange's text form: "00 70 41 41 -> 00 01 41 41  acknowledged".
inline QString exchangeColumn(const QString& line) { return line.mid(45); }
inline QStringList exchangeColumns(const QStringList& lines)
{
    QStringList texts;
    for (const QString& line : lines)
        texts << exchangeColumn(line);
    return texts;
}

}  // namespace testing_support
