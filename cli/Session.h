#pragma once
// One krl7741 run of a checked command line on a host: the scan, then one
// bridge transaction per command byte, each printed as it ends from the
// record of its exchange (and, with --trace, traced on standard error).

#include "BridgeLink.h"
#include "Cli.h"
#include "Output.h"
#include "Record.h"
#include "RecordingHost.h"

#include <memory>
#include <optional>

namespace cli {

class Session {
public:
    Session(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err);

    // Returns the exit status.
    int run();

private:
    void error(const QString& message);
    QString whyNoBridge(const bridge::ScanResult& scan);
    void list();
    // One transaction and its line. False once the bridge is lost.
    bool exchange(const Byte& byte);
    int ramp();

    const Invocation& inv_;
    record::Record record_;  // its time starts with the command
    record::RecordingHost recorded_;
    bridge::BridgeLink link_;
    std::unique_ptr<Output> out_;
    QTextStream& err_;
    std::optional<record::Exchange> last_;  // the exchange the last transaction made
    std::vector<record::Exchange> strays_;  // the stray reports read during it
    int status_ = kExitAcknowledged;
};

}  // namespace cli
