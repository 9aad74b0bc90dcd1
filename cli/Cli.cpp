// krl7741's entry points: parse (Parse.cpp), then run a Session (Session.cpp)
// on the host chosen for the invocation.

#include "Cli.h"

#include "Output.h"
#include "Session.h"
#include "VirtualBridge.h"

namespace cli {

int execute(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
{
    if (invocation.command == Command::Review)
        return review(invocation, out, err);
    if (invocation.command == Command::Serve)
        return serve(invocation, host, out, err);
    return Session(invocation, host, out, err).run();
}

int run(const QStringList& arguments, const HostChoice& hostFor, QTextStream& out, QTextStream& err)
{
    const Parsed parsed = parse(arguments);
    if (!parsed.help.isEmpty()) {
        out << parsed.help << Qt::flush;
        return kExitAcknowledged;
    }
    if (!parsed.invocation) {
        err << kProgram() << ": " << parsed.error << Qt::endl;
        return kExitUsage;
    }
    if (parsed.invocation->command == Command::Review)
        return review(*parsed.invocation, out, err);
    return execute(*parsed.invocation, hostFor(*parsed.invocation), out, err);
}

int run(const QStringList& arguments, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
{
    const auto sameHost = [&host](const Invocation&) -> bridge::HIDapi& { return host; };
    return run(arguments, sameHost, out, err);
}

std::unique_ptr<bridge::HIDapi> evaluationBoard()
{
    auto board = std::make_unique<virtualboard::VirtualBridge>();
    board->plug(virtualboard::VirtualBridge::evaluationBoard());
    return board;
}

}  // namespace cli
