#pragma once
#include <poll.h>
#include <termios.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qln_test {

class LockstepClock;

// A valve on a real pseudo-terminal whose answers the test scripts. The program under test opens
// SlavePath() like any serial device; a thread on the master side collects request telegrams
// (STX, command, data, BCC; the matrix row write 116 with ten data bytes) and answers each with whatever the
// behaviour returns (nothing: the valve stays silent). Like a real device it only understands the line at its
// own speed: a request that arrives while the line is set to another speed is recorded but not answered.
//
// Given the engine's lockstep clock, the valve is a member of it and waits for the line on it:
// time only moves once the valve has taken and answered what came, so no reply time-out expires
// because the valve was not scheduled.
class ScriptedValve {
public:
    using Behaviour = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;
    // Answer whatever line speed the program has set.
    static constexpr speed_t ANY_SPEED = B0;

    struct Request {
        std::vector<uint8_t> bytes; // the whole telegram
        speed_t speed;              // the line speed when it arrived
        bool answered;              // the speed matched and the behaviour was asked
    };

    explicit ScriptedValve(Behaviour behaviour, speed_t answerSpeed = ANY_SPEED,
                           LockstepClock* clock = nullptr);
    ScriptedValve(Behaviour behaviour, LockstepClock& clock)
        : ScriptedValve(std::move(behaviour), ANY_SPEED, &clock) {}
    ~ScriptedValve();
    ScriptedValve(const ScriptedValve&) = delete;
    ScriptedValve& operator=(const ScriptedValve&) = delete;

    const std::string& SlavePath() const { return slavePath_; }

    std::vector<Request> Requests() const;
    // Command bytes of the requests received so far, in order.
    std::vector<uint8_t> Commands() const;
    size_t RequestCount() const;

    // Closes the master side: the program's end of the line hangs up, as when a USB adapter is
    // unplugged. The valve answers nothing afterwards. Call it from the test thread.
    void HangUp();
    // The valve hangs up by itself right after it has handled request number `n` (counted from
    // 1): on a lockstep clock at the same moment of time, whatever the machine's load.
    void HangUpAfter(size_t n);

private:
    void Run();
    // Blocks until the line or the stop descriptor has something.
    int WaitForLine(pollfd* fds, size_t count);
    void Handle(const std::vector<uint8_t>& request);
    bool HangUpDue() const;

    Behaviour behaviour_;
    speed_t answerSpeed_;
    LockstepClock* clock_;
    int master_ = -1;
    int stopFd_ = -1;
    std::string slavePath_;
    std::thread thread_;
    mutable std::mutex m_;
    std::condition_variable runningCv_;
    bool running_ = false;
    size_t hangUpAfter_ = 0; // 0: never
    std::vector<Request> requests_;
};

// Frames value bytes as a reply: STX, bytes, BCC over the bytes.
std::vector<uint8_t> Framed(std::vector<uint8_t> values);
// The reply with its last byte (the BCC) spoilt.
std::vector<uint8_t> WithBadBcc(std::vector<uint8_t> reply);

// The command bytes of the 36 parameter reads, in the valve's documented order, and the 34 of
// them that have a write (write command = read command - 1).
const std::vector<uint8_t>& ParameterReadCommands();
bool IsWritableRead(uint8_t readCmd);

// A well-behaved valve, to be wrapped by tests that inject faults:
// - VER (0x23) answers the firmware version (5 unless changed);
// - every parameter read and STR, LER, VTR, CTR answer their stored value byte;
// - DIR (112) and OCR (113) answer their stored 10- and 8-byte records;
// - a write (command = read command - 1 of a writable parameter) stores its data byte under the
//   read command and answers ACK; a request with a bad frame or an unknown command gets NAK.
class ValveModel {
public:
    static constexpr uint8_t VER = 0x23, DIR = 112, OCR = 113, VTR = 82, CTR = 84, STR = 108, LER = 110;

    ValveModel();
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& request);
    ScriptedValve::Behaviour Behaviour() {
        return [this](const std::vector<uint8_t>& r) { return Answer(r); };
    }

    void SetValue(uint8_t readCmd, uint8_t value);
    uint8_t Value(uint8_t readCmd) const;
    void SetDeviceRecord(const std::vector<uint8_t>& tenBytes);
    void SetCounterRecord(const std::vector<uint8_t>& eightBytes);

private:
    mutable std::mutex m_;
    std::map<uint8_t, uint8_t> values_;
    std::vector<uint8_t> deviceRecord_;
    std::vector<uint8_t> counterRecord_;
};

} // namespace qln_test
