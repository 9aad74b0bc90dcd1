#pragma once
// One krl7741 run on a real host, in the test's own process: what it printed
// and what it returned. For test programs that link krl_cli.

#include "Cli.h"
#include "HIDapi.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace testing_support {

struct CliRun {
    int status = -1;
    QString out;
    QString err;
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// `line` is the command line after the program's name, its words split at blanks.
inline CliRun krl7741(bridge::HIDapi& host, const QString& line)
{
    CliRun r;
    QTextStream out(&r.out), err(&r.err);
    r.status = cli::run(QStringLiteral("krl7741 %1").arg(line).split(QLatin1Char(' ')), host, out, err);
    return r;
}

}  // namespace testing_support
