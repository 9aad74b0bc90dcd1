#include "Program.h"

#include <QCommandLineParser>

namespace app {

Program::Started Program::start(const QStringList& arguments, bridge::HIDapi& host, QTextStream& out,
                                QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The KRL7741B/C/T controller panel."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption monitor(
        QStringLiteral("monitor"),
        QStringLiteral(
            "Opens the bus monitor beside the panel: a chart of the PWM levels, the trace and counts "
            "of every exchange with the bridge, the registers as the panel set them, and buttons "
            "to save the record as JSON lines or clear it."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Appends every exchange with the bridge to FILE as one JSON line (as krl7741 --json "
                       "prints it, with the time of day added), written out line by line."),
        QStringLiteral("FILE"));
    const QCommandLineOption review(
        QStringLiteral("review"),
        QStringLiteral(
            "Opens FILE, a log or a saved record, for review, with no bridge: the chart over its "
            "whole span, zoomable down to single exchanges, the trace with its filters and counts, "
            "and the lines skipped."),
        QStringLiteral("FILE"));
    parser.addOptions({help, monitor, log, review});

    Started started;
    if (!parser.parse(arguments)) {
        err << parser.errorText() << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    if (parser.isSet(help)) {
        out << parser.helpText() << Qt::flush;
        return started;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << QStringLiteral("Unexpected argument '%1'").arg(parser.positionalArguments().front())
            << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    Options options;
    options.review = parser.value(review);
    if (parser.isSet(review) && (options.review.isEmpty() || parser.isSet(monitor) || parser.isSet(log))) {
        err << QStringLiteral("--review needs a file name, and goes with no other option") << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    options.monitor = parser.isSet(monitor);
    options.log = parser.value(log);
    if (parser.isSet(log) && options.log.isEmpty()) {
        err << QStringLiteral("--log needs a file name") << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    auto program = std::make_unique<Program>(options, host, err);
    if (program->log_ && !program->log_->openError().isEmpty()) {
        err << QStringLiteral("Cannot write the log %1: %2").arg(options.log, program->log_->openError())
            << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    started.program = std::move(program);
    return started;
}

Program::Program(const Options& options, bridge::HIDapi& host, QTextStream& err)
{
    if (!options.review.isEmpty()) {
        review_ = std::make_unique<monitor::ReviewWindow>();
        review_->open(options.review);
        return;  // no panel, no bridge
    }
    if (options.monitor || !options.log.isEmpty()) {
        record_ = std::make_unique<record::Record>();
        recorded_ = std::make_unique<record::RecordingHost>(host, *record_);
    }
    if (!options.log.isEmpty()) {
        log_ = std::make_unique<record::Log>(*record_, options.log);
        if (!log_->openError().isEmpty())
            return;  // start() says why; nothing more is built
    }
    if (options.monitor)
        monitor_ = std::make_unique<monitor::MonitorWindow>(*record_);
    if (log_) {
        if (monitor_)
            monitor_->showLog(QStringLiteral("Logging to %1").arg(options.log));
        const auto stopped = [this, &err](const QString& message) {
            if (monitor_)
                monitor_->showLog(message);
            else
                err << message << Qt::endl;
        };
        QObject::connect(log_.get(), &record::Log::stopped, stopped);
    }
    form_ = std::make_unique<TForm1>(recorded_ ? static_cast<bridge::HIDapi&>(*recorded_) : host);
    if (monitor_)
        monitor_->setAttribute(Qt::WA_QuitOnClose, false);  // closing the panel ends the program
}

Program::~Program() = default;

void Program::show()
{
    if (review_) {
        review_->show();
        return;
    }
    form_->show();
    if (monitor_) {
        monitor::placeBeside(*monitor_, *form_);
        monitor_->show();
    }
}

}  // namespace app
