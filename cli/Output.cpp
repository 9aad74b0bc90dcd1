#include "Output.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace cli {
namespace {

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Acknowledged:
        return QStringLiteral("acknowledged");
    case Verdict::NotAcknowledged:
        return QStringLiteral("not acknowledged");
    case Verdict::NoAnswer:
        break;
    case Verdict::BridgeLost:
        return QStringLiteral("bridge lost");
    }
    return QStringLiteral("no answer");
}

QString hex(std::uint8_t value) { return driver::hexByte(value); }

QString usbId(std::uint16_t vendor, std::uint16_t product)
{
    return QStringLiteral("%1:%2").arg(vendor, 4, 16, QLatin1Char('0')).arg(product, 4, 16, QLatin1Char('0'));
}

}  // namespace

void TextOutput::transaction(const Transaction& t)
{
    const QString verdict = t.verdict == Verdict::BridgeLost ? QStringLiteral("no answer (bridge lost)")
                                                             : verdictText(t.verdict);
    out_ << QStringLiteral("%1: sent %2 %3 %3, reply %4 %5 %6, %7")
                .arg(t.byte.description, hex(t.address), hex(t.byte.value), hex(t.status), hex(t.first),
                     hex(t.second), verdict)
         << Qt::endl;
}

void TextOutput::bridge(const Listed& listed)
{
    auto text = [](const std::optional<std::u16string>& s) {
        return s ? QLatin1Char('"') + QString::fromStdU16String(*s) + QLatin1Char('"')
                 : QStringLiteral("unknown");
    };
    out_ << (listed.used ? "* " : "  ") << QString::fromStdString(listed.path) << "  "
         << usbId(listed.vendorId, listed.productId) << "  product " << text(listed.product) << "  serial "
         << text(listed.serial) << Qt::endl;
}

void JsonOutput::transaction(const Transaction& t)
{
    QJsonObject object{
        // Microseconds are as fine as a host's clock and USB's frames make sense of.
        {QStringLiteral("t_ms"), std::round(t.ms * 1000.0) / 1000.0},
        {QStringLiteral("sent"), QJsonArray{t.address, t.byte.value, t.byte.value}},
        {QStringLiteral("received"), QJsonArray{t.status, t.first, t.second}},
        {QStringLiteral("verdict"), verdictText(t.verdict)},
        {QStringLiteral("message"), t.byte.description},
    };
    if (!t.byte.control.isEmpty())
        object.insert(QStringLiteral("control"), t.byte.control);
    if (t.byte.position) {
        object.insert(QStringLiteral("position"), *t.byte.position);
        object.insert(QStringLiteral("value"), t.byte.valueText);
    }
    if (t.byte.level)
        object.insert(QStringLiteral("level"), *t.byte.level);
    line(object);
}

void JsonOutput::bridge(const Listed& listed)
{
    auto text = [](const std::optional<std::u16string>& s) {
        return s ? QJsonValue(QString::fromStdU16String(*s)) : QJsonValue(QJsonValue::Null);
    };
    line({{QStringLiteral("path"), QString::fromStdString(listed.path)},
          {QStringLiteral("usb"), usbId(listed.vendorId, listed.productId)},
          {QStringLiteral("product"), text(listed.product)},
          {QStringLiteral("serial"), text(listed.serial)},
          {QStringLiteral("used"), listed.used}});
}

void JsonOutput::line(const QJsonObject& object)
{
    out_ << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << Qt::endl;
}

std::unique_ptr<Output> outputFor(const Invocation& invocation, QTextStream& out)
{
    if (invocation.json)
        return std::make_unique<JsonOutput>(out);
    return std::make_unique<TextOutput>(out);
}

}  // namespace cli
