#pragma once
// krl7741 --trace: a host that writes every output report and the reply read
// for it on standard error, in the trace format of the evaluation board
// window.

#include "HIDapi.h"
#include "Trace.h"

#include <QTextStream>

#include <memory>
#include <optional>

namespace cli {

class TracingHost final : public bridge::HIDapi {
public:
    TracingHost(bridge::HIDapi& host, QTextStream& err) : host_(host), err_(err) {}

    std::vector<bridge::HidInterface> interfaces() override { return host_.interfaces(); }
    bridge::OpenResult open(const std::string& path) override
    {
        bridge::OpenResult result = host_.open(path);
        if (result.device)
            result.device = std::make_unique<Device>(std::move(result.device), err_);
        return result;
    }
    bridge::WatchResult watch(std::function<void()> onChange) override
    {
        return host_.watch(std::move(onChange));
    }
    std::string unavailable() const override { return host_.unavailable(); }

private:
    class Device final : public bridge::HidDevice {
    public:
        Device(std::unique_ptr<bridge::HidDevice> inner, QTextStream& err)
            : inner_(std::move(inner)), err_(err)
        {
        }

        int write(std::span<const std::uint8_t> report) override
        {
            pending_ = virtualboard::Report(report.begin(), report.end());
            const int n = inner_->write(report);
            if (n < 0)
                finish({});
            return n;
        }
        int read(std::span<std::uint8_t> report, std::chrono::milliseconds timeout) override
        {
            const int n = inner_->read(report, timeout);
            if (n > 0)
                finish(virtualboard::Report(report.begin(), report.begin() + n));
            else if (n < 0 || timeout.count() > 0)
                finish({});
            return n;
        }
        std::optional<std::u16string> productString() override { return inner_->productString(); }
        std::optional<std::u16string> serialString() override { return inner_->serialString(); }
        bool gone() const override { return inner_->gone(); }

    private:
        // One line per output report; a reply read with no report waiting
        // (a late one, discarded) has no line.
        void finish(const virtualboard::Report& reply)
        {
            if (!pending_)
                return;
            err_ << virtualboard::traceLine(*pending_, reply, virtualboard::verdictOf(reply)) << Qt::endl;
            pending_.reset();
        }

        std::unique_ptr<bridge::HidDevice> inner_;
        QTextStream& err_;
        std::optional<virtualboard::Report> pending_;
    };

    bridge::HIDapi& host_;
    QTextStream& err_;
};

}  // namespace cli
