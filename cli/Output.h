#pragma once
// What krl7741 prints on standard output: one line per transaction and per
// bridge listed, as text or, with --json, as one JSON object per line.

#include "Cli.h"
#include "Record.h"

#include <QJsonObject>
#include <QString>
#include <QTextStream>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace cli {

inline QString kProgram() { return QStringLiteral("krl7741"); }
inline QString quoted(const QString& text) { return QLatin1Char('\'') + text + QLatin1Char('\''); }

// One transaction as it is printed: the exchange as the record keeps it, and
// how the command line names its byte.
struct Transaction {
    const record::Exchange& exchange;
    record::TimePoint origin;  // when the command started
    const Byte& byte;
};

// One bridge `list` found.
struct Listed {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<std::u16string> product;
    std::optional<std::u16string> serial;
    bool used = false;  // the one the other commands would open
};

class Output {
public:
    virtual ~Output() = default;
    virtual void transaction(const Transaction& t) = 0;
    // A report that answered no command, in the record's form.
    virtual void stray(const record::Exchange& stray, record::TimePoint origin) = 0;
    virtual void bridge(const Listed& listed) = 0;
};

// "PWM LED1 = $51: 00 70 51 51 -> 00 01 51 51  acknowledged": the panel's
// message, then the exchange in the record's text form.
class TextOutput final : public Output {
public:
    explicit TextOutput(QTextStream& out) : out_(out) {}
    void transaction(const Transaction& t) override;
    void stray(const record::Exchange& stray, record::TimePoint origin) override;
    void bridge(const Listed& listed) override;

private:
    QTextStream& out_;
};

// The record's JSON form with the byte's names added:
// {"message":"PWM LED1 = $51","received":[1,81,81],"sent":[112,81,81],"t_ms":0.412,...}
class JsonOutput final : public Output {
public:
    explicit JsonOutput(QTextStream& out) : out_(out) {}
    void transaction(const Transaction& t) override;
    void stray(const record::Exchange& stray, record::TimePoint origin) override;
    void bridge(const Listed& listed) override;

private:
    void line(const QJsonObject& object);

    QTextStream& out_;
};

std::unique_ptr<Output> outputFor(const Invocation& invocation, QTextStream& out);

}  // namespace cli
