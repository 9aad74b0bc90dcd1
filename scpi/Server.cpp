#include "Server.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace scpi {

// One connection: its bytes cut into lines, each line carried out, the
// answer written back.
class Server::Client final : public QObject {
public:
    Client(QTcpSocket* socket, Instrument& instrument, const Identity& identity, QObject* parent)
        : QObject(parent), socket_(socket), interpreter_(instrument, identity)
    {
        socket_->setParent(this);
        connect(socket_, &QTcpSocket::readyRead, this, &Client::read);
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    }

private:
    void read()
    {
        while (socket_->state() == QAbstractSocket::ConnectedState && socket_->bytesAvailable() > 0) {
            const QByteArray chunk = socket_->read(64 * 1024);
            qsizetype start = 0;
            for (;;) {
                const qsizetype end = chunk.indexOf('\n', start);
                const qsizetype stop = end < 0 ? chunk.size() : end;
                if (!dropping_) {
                    const qsizetype room = kMaxLine - pending_.size();
                    if (stop - start > room) {
                        dropping_ = true;  // the line is too long: the rest of it goes unread
                        pending_.clear();
                        interpreter_.fail(kTooMuchData);
                    } else {
                        pending_.append(chunk.constData() + start, stop - start);
                    }
                }
                if (end < 0)
                    break;
                if (!dropping_)
                    line(pending_);
                pending_.clear();
                dropping_ = false;
                start = end + 1;
                if (socket_->state() != QAbstractSocket::ConnectedState)
                    return;
            }
        }
    }

    void line(QByteArray text)
    {
        if (text.endsWith('\r'))
            text.chop(1);
        // Program messages are 7-bit text: NUL, other control characters and
        // binary are not one.
        const bool text7 = std::all_of(text.cbegin(), text.cend(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return (u >= 0x20 && u < 0x7F) || u == '\t';
        });
        if (!text7) {
            interpreter_.fail(kSyntaxError);
            return;
        }
        const auto response = interpreter_.execute(std::string_view(text.constData(), text.size()));
        if (!response)
            return;
        socket_->write(QByteArray::fromStdString(*response + '\n'));
        if (socket_->bytesToWrite() > kMaxUnread)
            socket_->abort();  // a client that never reads
    }

    QTcpSocket* socket_;
    Interpreter interpreter_;
    QByteArray pending_;
    bool dropping_ = false;
};

Server::Server(Instrument& instrument, Identity identity, QObject* parent)
    : QObject(parent), instrument_(instrument), identity_(std::move(identity)), server_(new QTcpServer(this))
{
    server_->setMaxPendingConnections(kMaxClients);
    connect(server_, &QTcpServer::newConnection, this, &Server::accept);
}

Server::~Server() = default;

bool Server::listen(const QHostAddress& address, quint16 port, QString* error)
{
    if (server_->listen(address, port))
        return true;
    if (error)
        *error = server_->errorString();
    return false;
}

QHostAddress Server::address() const { return server_->serverAddress(); }
quint16 Server::port() const { return server_->serverPort(); }

void Server::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (clients() >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* client = new Client(socket, instrument_, identity_, this);
        ++clients_;
        connect(client, &QObject::destroyed, this, [this] { --clients_; });
    }
}

bool parseListen(const QString& text, QHostAddress* address, quint16* port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false;  // an IPv6 address goes in brackets
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || !address->setAddress(host))
        return false;
    *port = static_cast<quint16>(number);
    return true;
}

}  // namespace scpi
