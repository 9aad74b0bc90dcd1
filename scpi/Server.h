#pragma once
// SCPI over a raw TCP socket (the port instruments use is 5025): program
// messages end with LF (CR LF taken as well), responses end with LF. Each
// connection has its own interpreter (error queue, status registers); the
// instrument is shared, and as every command runs on this thread, one at a
// time, commands from all connections reach the bridge one after another.

#include "Interpreter.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class QTcpServer;
class QTcpSocket;

namespace scpi {

inline constexpr qsizetype kMaxLine = 64 * 1024;   // longer: -223, the rest of it dropped
inline constexpr qint64 kMaxUnread = 1024 * 1024;  // answers waiting for a client that never reads
inline constexpr int kMaxClients = 64;

class Server final : public QObject {
    Q_OBJECT
public:
    Server(Instrument& instrument, Identity identity, QObject* parent = nullptr);
    ~Server() override;

    // Starts listening; false with the reason in `error`.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const;
    quint16 port() const;
    int clients() const { return clients_; }

private:
    class Client;
    void accept();

    Instrument& instrument_;
    Identity identity_;
    QTcpServer* server_;
    int clients_ = 0;
};

// "127.0.0.1:5025", "[::1]:5025", "0.0.0.0:5025": the address and port; false
// when `text` is none of these.
bool parseListen(const QString& text, QHostAddress* address, quint16* port);

}  // namespace scpi
