#pragma once
// One client's view of the instrument: carries out its program messages on
// the instrument shared by every client, and keeps what IEEE 488.2 and
// SCPI-99 give each client of its own: the error queue, the standard event
// status register and its enable, the service request enable, and the
// OPERation and QUEStionable event registers and enables.

#include "Instrument.h"
#include "Parser.h"

#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace scpi {

inline constexpr std::size_t kErrorQueueSize = 20;

// Condition bits of the two SCPI status registers (device-defined bit 8).
inline constexpr int kOperationRamping = 1 << 8;      // OPERation: a ramp sequence runs
inline constexpr int kQuestionableNoBridge = 1 << 8;  // QUEStionable: no bridge is open

struct Identity {
    std::string manufacturer = "Halvern";
    std::string model = "KRL7741";
    std::string version;  // the program's
};

class Interpreter {
public:
    Interpreter(Instrument& instrument, Identity identity);

    // Carries out one program message; returns the response message (the
    // queries' answers joined by ';', without its terminator), or nullopt
    // when the message asked nothing.
    std::optional<std::string> execute(std::string_view message);

    // Queues an error found outside a message's commands (a line too long).
    void fail(int code);

    const std::deque<Error>& errors() const { return errors_; }

    struct Call;  // one command being carried out

private:
    struct Tree;  // the commands
    void run(const Command& command, std::string& answer);
    int statusByte();
    void noteConditions();

    Instrument& instrument_;
    Identity identity_;
    std::deque<Error> errors_;
    int esr_ = 0;
    int ese_ = 0;
    int sre_ = 0;
    struct Register {
        int condition = 0;
        int event = 0;
        int enable = 0;
        int summary() const { return event & enable; }
    };
    Register operation_;
    Register questionable_;
};

}  // namespace scpi
