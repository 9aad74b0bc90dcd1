// krl7741 serve: the chip as a SCPI instrument on a TCP socket until Ctrl-C.

#include "Cli.h"
#include "Interrupt.h"
#include "Output.h"

#ifdef KRL_SCPI
#include "LinkInstrument.h"
#include "Server.h"

#include <QEventLoop>
#include <QTimer>
#endif

#ifndef KRL_VERSION
#error "KRL_VERSION comes from the project's version (cli/CMakeLists.txt)"
#endif

namespace cli {

#ifdef KRL_SCPI

int serve(const Invocation& invocation, bridge::HIDapi& host, QTextStream& out, QTextStream& err)
{
    QHostAddress address;
    quint16 port = 0;
    if (!scpi::parseListen(invocation.listen, &address, &port)) {
        err << kProgram() << ": not an ADDRESS:PORT to listen on: " << quoted(invocation.listen) << Qt::endl;
        return kExitUsage;
    }
    bridge::BridgeLink link(host);
    if (invocation.serial)
        link.setSerialFilter(invocation.serial->toStdU16String());
    scpi::LinkInstrument instrument(link);
    instrument.setDevice(invocation.address == driver::kAddressC ? scpi::Device::C : scpi::Device::B);
    scpi::Server server(instrument, {"Halvern", "KRL7741", KRL_VERSION});
    QString why;
    if (!server.listen(address, port, &why)) {
        err << kProgram() << ": cannot listen on " << invocation.listen << ": " << why << Qt::endl;
        return kExitCannotListen;
    }
    const QString where = (server.address().protocol() == QAbstractSocket::IPv6Protocol
                               ? QLatin1Char('[') + server.address().toString() + QLatin1Char(']')
                               : server.address().toString())
        + QLatin1Char(':') + QString::number(server.port());
    if (!address.isLoopback())
        err << kProgram() << ": listening on " << where
            << ", not only on this machine: anyone who can reach it can drive the chip" << Qt::endl;
    out << "Listening on " << where << Qt::endl;

    InterruptGuard ctrlC;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ctrlC.raised())
            loop.quit();
    });
    poll.start(std::chrono::milliseconds(20));
    loop.exec();
    err << kProgram() << ": stopped serving" << Qt::endl;
    return kExitAcknowledged;
}

#else

int serve(const Invocation&, bridge::HIDapi&, QTextStream&, QTextStream& err)
{
    err << kProgram() << ": this build has no SCPI server (Qt's network module was missing)" << Qt::endl;
    return kExitCannotListen;
}

#endif

}  // namespace cli
