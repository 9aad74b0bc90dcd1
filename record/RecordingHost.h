#pragma once
// A host that records every exchange on the devices it opens: wraps another
// host (the real one or the virtual board) and passes every call through
// unchanged, noting for each output report the bytes written, the reply read
// for it and the verdict in a Record.

#include "HIDapi.h"
#include "Record.h"

namespace record {

class RecordingHost final : public bridge::HIDapi {
public:
    RecordingHost(bridge::HIDapi& host, Record& record) : host_(host), record_(record) {}

    std::vector<bridge::HidInterface> interfaces() override { return host_.interfaces(); }
    bridge::OpenResult open(const std::string& path) override;
    bridge::WatchResult watch(std::function<void()> onChange) override
    {
        return host_.watch(std::move(onChange));
    }
    std::string unavailable() const override { return host_.unavailable(); }

    Record& record() { return record_; }

private:
    bridge::HIDapi& host_;
    Record& record_;
};

}  // namespace record
