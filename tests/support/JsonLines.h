#pragma once
// A file of JSON lines read back, and the lines a record would write, so a
// saved record or a log can be compared with the record whole.

#include "Record.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <vector>

namespace testing_support {

// Every line of the file at `path`, parsed; a line that is no JSON object fails the test.
inline std::vector<QJsonObject> jsonLines(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    std::vector<QJsonObject> objects;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_TRUE(error.error == QJsonParseError::NoError && document.isObject()) << line.toStdString();
        objects.push_back(document.object());
    }
    return objects;
}

// The lines `record` writes for its exchanges (Record::line), oldest first.
inline std::vector<QJsonObject> jsonLines(const record::Record& record)
{
    std::vector<QJsonObject> objects;
    for (const record::Exchange& exchange : record.exchanges())
        objects.push_back(record.line(exchange));
    return objects;
}

}  // namespace testing_support
