// SEQ#3 at 10 ms through the kernel's own USB stack: run inside the guest by
// `scripts/check-kernel --bench` on a high-speed gadget (f_hid polled every
// 1 ms) and then a full-speed one (every 10 ms). Prints how many steps the
// ramp took, how many were acknowledged, and the spacing of the reports
// written (median, 95th percentile, largest) from krl7741's own --json times.
// The guest's CPU is emulated (TCG): the figures are emulated ones.
//   gadget_ramp high|full [runs]

#include "Cli.h"
#include "Gadget.h"
#include "HidapiHost.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const char* speed = argc > 1 ? argv[1] : "high";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    kernel_guest::Gadget gadget(0);
    const std::string node = gadget.plug();
    // The speed the host enumerated the gadget at, in Mb/s (the USB device's sysfs "speed").
    std::filesystem::path device
        = std::filesystem::canonical("/sys/class/hidraw" / std::filesystem::path(node).filename());
    while (device.has_parent_path() && device != "/" && !std::filesystem::exists(device / "speed"))
        device = device.parent_path();
    std::ifstream speedFile(device / "speed");
    std::string enumerated = "?";
    speedFile >> enumerated;
    bridge::HidapiHost host;
    for (int run = 0; run < runs; ++run) {
        QString text, errors;
        QTextStream out(&text), err(&errors);
        const int status
            = cli::run({QStringLiteral("krl7741"), QStringLiteral("--json"), QStringLiteral("ramp"),
                        QStringLiteral("seq3"), QStringLiteral("--interval"), QStringLiteral("10")},
                       host, out, err);
        std::vector<double> at;
        int acknowledged = 0;
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            at.push_back(o.value(QLatin1String("t_ms")).toDouble());
            acknowledged += o.value(QLatin1String("verdict")).toString() == QLatin1String("acknowledged");
        }
        std::vector<double> gaps;
        for (std::size_t i = 1; i < at.size(); ++i)
            gaps.push_back(at[i] - at[i - 1]);
        std::sort(gaps.begin(), gaps.end());
        const auto pick
            = [&](double q) { return gaps.empty() ? 0.0 : gaps[std::size_t(q * (gaps.size() - 1))]; };
        std::printf("%s speed (%s Mb/s), run %d (emulated, TCG): status %d, %zu steps, %d acknowledged, %.0f "
                    "ms in all, "
                    "spacing median %.2f ms, 95%% %.2f ms, largest %.2f ms\n",
                    speed, enumerated.c_str(), run + 1, status, at.size(), acknowledged,
                    at.empty() ? 0.0 : at.back() - at.front(), pick(0.5), pick(0.95),
                    gaps.empty() ? 0.0 : gaps.back());
    }
    return 0;
}
