#include "Program.h"

#include "StartTexts.h"

#include <QCommandLineParser>
#include <QMessageBox>

#ifndef KRL_VERSION
#error "KRL_VERSION comes from the project's version (app/CMakeLists.txt)"
#endif

namespace app {

QString versionText() { return QStringLiteral("KRL7741AT " KRL_VERSION); }

Program::Started Program::start(const QStringList& arguments, bridge::HIDapi& host, QTextStream& out,
                                QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The KRL7741B/C/T controller panel."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version."));
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
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Uses only the bridge with this serial number."),
                                    QStringLiteral("S"));
    const QCommandLineOption review(
        QStringLiteral("review"),
        QStringLiteral(
            "Opens FILE, a log or a saved record, for review, with no bridge: the chart over its "
            "whole span, zoomable down to single exchanges, the trace with its filters and counts, "
            "and the lines skipped."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, monitor, log, serial, review});

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
    if (parser.isSet(version)) {
        out << versionText() << Qt::endl;
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
    if (parser.isSet(review)
        && (options.review.isEmpty() || parser.isSet(monitor) || parser.isSet(log) || parser.isSet(serial))) {
        err << QStringLiteral("--review needs a file name, and goes with no other option") << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    options.monitor = parser.isSet(monitor);
    options.log = parser.value(log);
    options.serial = parser.value(serial);
    if (parser.isSet(log) && options.log.isEmpty()) {
        err << QStringLiteral("--log needs a file name") << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    auto program = std::make_unique<Program>(options, host);
    if (program->log_ && !program->log_->openError().isEmpty()) {
        err << QStringLiteral("Cannot write the log %1: %2").arg(options.log, program->log_->openError())
            << Qt::endl;
        started.status = kExitUsage;
        return started;
    }
    started.program = std::move(program);
    return started;
}

Program::Program(const Options& options, bridge::HIDapi& host)
{
    if (!options.review.isEmpty()) {
        review_ = std::make_unique<monitor::ReviewWindow>();
        review_->open(options.review);
        return;  // no panel, no bridge
    }
    if (options.monitor || !options.log.isEmpty())
        recording_ = std::make_unique<Recording>(host);
    if (!options.log.isEmpty()) {
        log_ = std::make_unique<record::Log>(recording_->record, options.log);
        if (!log_->openError().isEmpty())
            return;  // start() says why; nothing more is built
    }
    if (options.monitor)
        monitor_ = std::make_unique<monitor::MonitorWindow>(recording_->record);
    if (log_) {
        if (monitor_)
            monitor_->showLog(QStringLiteral("Logging to %1").arg(options.log));
        // Said where the operator looks: on the monitor's log line, or else
        // in a box of the panel's own that leaves the panel working.
        const auto stopped = [this](const QString& message) {
            if (monitor_) {
                monitor_->showLog(message);
                return;
            }
            auto* box
                = new QMessageBox(QMessageBox::Warning, boxTitle(), message, QMessageBox::Ok, form_.get());
            box->setObjectName(QStringLiteral("LogStopped"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            box->show();
        };
        QObject::connect(log_.get(), &record::Log::stopped, stopped);
    }
    Environment environment;
    if (!options.serial.isEmpty())
        environment.serial = options.serial.toStdU16String();
    form_ = std::make_unique<TForm1>(recording_ ? static_cast<bridge::HIDapi&>(recording_->recorded) : host,
                                     std::move(environment));
}

Program::~Program() = default;

void Program::show()
{
    if (review_) {
        review_->show();
        return;
    }
    if (monitor_)
        showBeside(*form_, *monitor_);
    else
        form_->show();
}

int run(Application& application, bridge::HIDapi& host, const std::function<void(Program&)>& shown)
{
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    const Program::Started started = Program::start(application.arguments(), host, out, err);
    out.flush();
    err.flush();
    showStartTexts(application.title(), outText, errText);
    if (!started.program)
        return started.status;
    started.program->show();
    if (shown)
        shown(*started.program);
    return application.exec();
}

}  // namespace app
