// krl7741: the driver from the command line, on the real bridge or, with
// --virtual, on the virtual evaluation board.

#include "Cli.h"
#include "HidapiHost.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    std::unique_ptr<bridge::HIDapi> host;
    return cli::run(
        application.arguments(),
        [&host](const cli::Invocation& invocation) -> bridge::HIDapi& {
            host = invocation.virtualBoard ? cli::evaluationBoard() : std::make_unique<bridge::HidapiHost>();
            return *host;
        },
        out, err);
}
