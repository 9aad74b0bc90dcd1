// The SCPI instrument on the virtual board: what each message answers, which
// errors it queues and the exact reports it sends; then the server's sockets.

#include "EventLoop.h"
#include "Interpreter.h"
#include "LinkInstrument.h"
#include "Panel.h"
#include "Parser.h"
#include "Server.h"
#include "VirtualBridge.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using virtualboard::VirtualBridge;

struct Instrument {
    Instrument()
    {
        board.setRealTime(false);
        board.plug(VirtualBridge::evaluationBoard());
    }
    // The response to `message`, or "(none)".
    std::string ask(const std::string& message) { return client.execute(message).value_or("(none)"); }
    // The reports written since the last call, as "70 51 51", one per line.
    std::string sent()
    {
        std::string text;
        for (const auto& report : board.written())
            text += (text.empty() ? "" : "\n") + testing_support::hex(report).substr(3);
        board.clearWritten();
        return text;
    }
    // Every error queued, oldest first, as SYSTem:ERRor? answers them; the queue is emptied.
    std::string errors()
    {
        std::string all;
        for (std::string e; (e = ask("SYST:ERR?")) != "0,\"No error\"";)
            all += (all.empty() ? "" : "\n") + e;
        return all;
    }

    VirtualBridge board;
    bridge::BridgeLink link{board};
    scpi::LinkInstrument chip{link};
    scpi::Interpreter client{chip, {"Halvern", "KRL7741", "1.0.0"}};
};

// Each row is one message on a fresh instrument: its response, the reports it
// sent and the errors it left.
TEST(Scpi, EachMessageAnswersSendsAndQueuesWhatItShould)
{
    struct Row {
        const char* message;
        const char* response;
        const char* sent;
        const char* errors;
    };
    const Row rows[] = {
        {"*IDN?", "Halvern,KRL7741,EVB-0001,1.0.0", "", ""},
        {"PWM1 17;LAST?", "ACK,1,81,81", "70 51 51", ""},
        {"sour:pwm2 5;pwm3 30;:PWM2?;PWM3?", "5;30", "70 65 65\n70 9E 9E", ""},
        {"SOURce:PWM3:LEVel 2;LEVel?", "2", "70 82 82", ""},
        {"pwm2:lev MAX;lev?", "30", "70 7E 7E", ""},
        {"PWM1 16.6;PWM1?", "17", "70 51 51", ""},
        {"CURR:PEAK 0;:LAST?", "ACK,1,0,0", "70 00 00", ""},
        {"DIMM:UP 3;DOWN 4;STAR 5;UP?;DOWN?;STARt?", "3;4;5", "70 A3 A3\n70 C4 C4\n70 E5 E5", ""},
        {"PWM1 17;PWM1 17", "(none)", "70 51 51\n70 51 51", ""},  // a set sends every time
        {"PWM1? MAX;PWM1? MIN;SEQ:INT1? DEF", "30;0;50", "", ""},
        {"SEND #H41;SEND 255;LAST?", "ACK,1,255,255", "70 41 41\n70 FF FF", ""},
        {"DEV C;PWM1 3;LAST?;DEV?", "NACK,240,67,67;C", "72 43 43",
         "-240,\"Hardware error;I2C error : no Acknowledge from device\""},
        {"DEV T;DEV?", "B", "", ""},
        {"SEQ:SEL 2;SEL?;INT2 30;INT2?;INT3?", "2;30;50", "", ""},
        {"SYST:VERS?", "1999.0", "", ""},
        {"LAST?", "NONE,0,0,0", "", ""},
        {"BRID:STAT?;SERial?", "1;\"EVB-0001\"", "", ""},
        {"*OPC?;*ESR?", "1;0", "", ""},
        {"PWM1 31;PWM1?", "0", "", "-222,\"Data out of range\""},  // nothing sent
        {"PWM4 3", "(none)", "", "-113,\"Undefined header\""},
        {"PWM1", "(none)", "", "-109,\"Missing parameter\""},
        {"PWM1 ON", "(none)", "", "-104,\"Data type error\""},
        {"PWM1 1,2", "(none)", "", "-108,\"Parameter not allowed\""},
        {"PWM1 \"1", "(none)", "", "-102,\"Syntax error\""},
        {"PWM1 1;;PWM2 2", "(none)", "70 41 41\n70 62 62", "-102,\"Syntax error\""},
        {"DEV Q", "(none)", "", "-224,\"Illegal parameter value\""},
        {"SEQ:INT1 9", "(none)", "", "-222,\"Data out of range\""},
        {"SEND 256;SEND #HG1", "(none)", "", "-222,\"Data out of range\"\n-104,\"Data type error\""},
        {"*IDN", "(none)", "", "-113,\"Undefined header\""},
        {"  ", "(none)", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        Instrument i;
        EXPECT_EQ(i.ask(row.message), row.response);
        EXPECT_EQ(i.sent(), row.sent);
        EXPECT_EQ(i.errors(), row.errors);
    }
}

TEST(Scpi, TheErrorQueueHoldsTwentyTheLastBecomingAnOverflow)
{
    Instrument i;
    for (int n = 0; n < 25; ++n)
        i.ask("NOSUCH");
    EXPECT_EQ(i.ask("SYST:ERR:COUN?"), "20");
    EXPECT_EQ(i.ask("*STB?"), "4") << "bit 2: the queue is not empty";
    std::vector<std::string> errors;
    for (int n = 0; n < 20; ++n)
        errors.push_back(i.ask("SYST:ERR:NEXT?"));
    EXPECT_EQ(errors.front(), "-113,\"Undefined header\"");
    EXPECT_EQ(errors[18], "-113,\"Undefined header\"");
    EXPECT_EQ(errors.back(), "-350,\"Queue overflow\"");
    EXPECT_EQ(i.ask("SYST:ERR?;*STB?"), "0,\"No error\";0");
}

TEST(Scpi, TheStandardEventRegisterAndItsSummary)
{
    Instrument i;
    i.ask("*ESE 48;*SRE 32");
    i.ask("NOSUCH");  // a command error: bit 5
    EXPECT_EQ(i.ask("*STB?"), std::to_string(4 | 32 | 64));
    EXPECT_EQ(i.ask("*ESR?;*ESR?"), "32;0") << "read, then cleared";
    i.ask("DEV C;PWM1 1");  // an execution error: bit 4
    i.ask("*OPC");
    EXPECT_EQ(i.ask("*ESR?"), "17");
    i.ask("*CLS");
    EXPECT_EQ(i.ask("*STB?;SYST:ERR:COUN?;*ESE?;*SRE?"), "0;0;48;32") << "*CLS keeps the enables";
}

// *RST: the ramp stopped, SEQ#1, 50 ms, device B, and the seven registers at 0 with their commands sent.
TEST(Scpi, ResetPutsThePanelsStartBackAndDarkensTheLeds)
{
    Instrument i;
    i.ask("DEV C;SEQ:SEL 3;INT1 10;INT2 20;INT3 30;:DEV B;PWM1 9;SEQ:STAT ON");
    i.sent();
    EXPECT_EQ(i.ask("*RST;SEQ:STAT?;SEL?;INT1?;INT2?;INT3?;:DEV?;PWM1?"), "0;1;50;50;50;B;0");
    EXPECT_EQ(i.sent(),
              "70 40 40\n70 60 60\n70 80 80\n"  // Run Sequence unticked: the PWM levels to 0
              "70 00 00\n70 40 40\n70 60 60\n70 80 80\n70 A0 A0\n70 C0 C0\n70 E0 E0");
    EXPECT_EQ(i.errors(), "");
}

TEST(Scpi, FollowsTheBridgeAsItIsUnpluggedAndPluggedAgain)
{
    Instrument i;
    const std::string path = VirtualBridge::evaluationBoard().path;
    i.board.unplug(path);
    EXPECT_EQ(i.ask("PWM1 5;LAST?;BRID:STAT?;:STAT:QUES:COND?"), "NONE,0,0,0;0;256");
    EXPECT_EQ(i.errors(), "-241,\"Hardware missing;USB error : device not connected\"");
    EXPECT_EQ(i.ask("*TST?"), "1");
    i.board.plug(VirtualBridge::evaluationBoard());
    EXPECT_EQ(i.ask("PWM1 5;LAST?;BRID:STAT?;:STAT:QUES:COND?;:STAT:QUES?;QUES?"), "ACK,1,69,69;1;0;256;0");
    EXPECT_EQ(i.ask("*TST?"), "0");
    EXPECT_EQ(i.errors(), "");
}

TEST(ScpiParser, HeadersFollowThePathRule)
{
    const auto paths = [](const char* message) {
        std::string text;
        for (const scpi::Parsed& p : scpi::parseMessage(message)) {
            std::string path = p.command->common ? "*" : "";
            for (const std::string& node : p.command->path)
                path += (path.empty() || path == "*" ? "" : ":") + node;
            text += (text.empty() ? "" : " ") + path + (p.command->query ? "?" : "");
        }
        return text;
    };
    EXPECT_EQ(paths("SOUR:PWM2 5;PWM3 30"), "SOUR:PWM2 SOUR:PWM3");
    EXPECT_EQ(paths("SOUR:PWM2 5;:PWM3 30"), "SOUR:PWM2 PWM3");
    EXPECT_EQ(paths("SEQ:INT2 5;*OPC;INT3?"), "SEQ:INT2 *OPC SEQ:INT3?");
    EXPECT_EQ(paths("a:b:c;d;:e:f;g"), "A:B:C A:B:D E:F E:G");
}

// ---------------------------------------------------------------- the server

struct Served : Instrument {
    Served()
    {
        QString why;
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0, &why)) << why.toStdString();
    }
    std::unique_ptr<QTcpSocket> connect()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, server.port());
        EXPECT_TRUE(testing_support::runEventLoopUntil(
            [&] { return socket->state() == QAbstractSocket::ConnectedState; }, 5s));
        return socket;
    }
    // Writes `bytes` and waits for one line of response.
    static std::string ask(QTcpSocket& socket, const QByteArray& bytes)
    {
        socket.write(bytes);
        if (!testing_support::runEventLoopUntil([&] { return socket.canReadLine(); }, 5s))
            return "(no answer)";
        return socket.readLine().trimmed().toStdString();
    }

    scpi::Server server{chip, {"Halvern", "KRL7741", "1.0.0"}};
};

TEST(ScpiServer, ClientsHaveQueuesOfTheirOwnAndShareTheChip)
{
    Served s;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int n = 0; n < 32; ++n)
        clients.push_back(s.connect());
    ASSERT_TRUE(testing_support::runEventLoopUntil([&] { return s.server.clients() == 32; }, 5s));
    for (int n = 0; n < 32; ++n)
        clients[static_cast<std::size_t>(n)]->write("PWM1 " + QByteArray::number(n % 31) + "\n");
    clients[0]->write("NOSUCH\r\n");
    EXPECT_TRUE(testing_support::runEventLoopUntil([&] { return s.board.written().size() == 32; }, 5s));
    EXPECT_EQ(Served::ask(*clients[0], "SYST:ERR:COUN?\n"), "1");
    EXPECT_EQ(Served::ask(*clients[1], "SYST:ERR:COUN?\n"), "0") << "an error is its client's own";
    // Whichever set came last, every client sees it.
    const std::string now = Served::ask(*clients[2], "PWM1?\n");
    for (const auto& client : clients)
        EXPECT_EQ(Served::ask(*client, "PWM1?\n"), now);
}

TEST(ScpiServer, BadClientsHoldUpNobody)
{
    Served s;
    auto stalled = s.connect();
    stalled->write("PWM1 1");  // half a line, then nothing
    auto longLine = s.connect();
    longLine->write(QByteArray(100 * 1024, 'A') + "\n*IDN?\n");
    EXPECT_EQ(Served::ask(*longLine, ""), "Halvern,KRL7741,EVB-0001,1.0.0");
    EXPECT_EQ(Served::ask(*longLine, "SYST:ERR?\n"), "-223,\"Too much data\"") << "the connection kept";
    auto binary = s.connect();
    EXPECT_EQ(Served::ask(*binary, QByteArray("*IDN?\0\n", 7) + "\xff\xfe\nSYST:ERR:COUN?\n"), "2");
    auto other = s.connect();
    EXPECT_EQ(Served::ask(*other, "*IDN?\n"), "Halvern,KRL7741,EVB-0001,1.0.0");

    // One that asks and never reads is let go once a megabyte of answers waits.
    auto deaf = s.connect();
    deaf->setReadBufferSize(1);
    QByteArray queries;
    for (int n = 0; n < 20000; ++n)
        queries += "*IDN?;*IDN?;*IDN?\n";
    deaf->write(queries);
    EXPECT_TRUE(testing_support::runEventLoopUntil([&] { return s.server.clients() == 4; }, 20s));
    EXPECT_EQ(Served::ask(*other, "*OPC?\n"), "1");
    stalled->write("7\nPWM1?\n");
    EXPECT_EQ(Served::ask(*stalled, ""), "17");
}

}  // namespace
