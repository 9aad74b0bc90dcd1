#include "Output.h"

#include <QJsonDocument>

namespace cli {
namespace {

QString usbId(std::uint16_t vendor, std::uint16_t product)
{
    return QStringLiteral("%1:%2").arg(vendor, 4, 16, QLatin1Char('0')).arg(product, 4, 16, QLatin1Char('0'));
}

}  // namespace

void TextOutput::transaction(const Transaction& t)
{
    out_ << t.byte.description << ": " << record::text(t.exchange) << Qt::endl;
}

void TextOutput::stray(const record::Exchange& stray, record::TimePoint)
{
    out_ << record::text(stray) << Qt::endl;
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
    QJsonObject object = record::json(t.exchange, t.origin);
    object.insert(QStringLiteral("message"), t.byte.description);
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

void JsonOutput::stray(const record::Exchange& stray, record::TimePoint origin)
{
    line(record::json(stray, origin));
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
