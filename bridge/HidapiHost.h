#pragma once
// The real host: HID through hidapi, device notices from the platform.

#include "HIDapi.h"

namespace bridge {

class HidapiHost final : public HIDapi {
public:
    HidapiHost();
    ~HidapiHost() override;
    HidapiHost(const HidapiHost&) = delete;
    HidapiHost& operator=(const HidapiHost&) = delete;

    std::vector<HidInterface> interfaces() override;
    OpenResult open(const std::string& path) override;
    std::shared_ptr<void> watch(QWidget& window, std::function<void()> onChange,
                                std::string* whyNot) override;
};

// Platform device notices (DeviceNotice_linux.cpp, DeviceNotice_win.cpp):
// calls `onChange` on the GUI thread whenever HID interfaces come or go, while
// the returned object lives. Null, with the reason in `whyNot`, when the
// platform cannot tell.
std::shared_ptr<void> watchDeviceNotices(QWidget& window, std::function<void()> onChange,
                                         std::string* whyNot);

}  // namespace bridge
