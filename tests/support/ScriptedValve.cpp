#include "support/ScriptedValve.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/LockstepClock.h"

namespace qln_test {
namespace {
constexpr uint8_t STX_BYTE = 0x02;
constexpr uint8_t ACK_BYTE = 0x06;
constexpr uint8_t NAK_BYTE = 0x15;
constexpr size_t REQUEST_LENGTH = 4;
// The matrix row write is the one long request: STX, command, ten data bytes, BCC.
constexpr uint8_t LONG_REQUEST_CMD = 116;
constexpr size_t LONG_REQUEST_LENGTH = 13;

uint8_t Sum(const uint8_t* p, size_t n) {
    uint8_t s = 0;
    for (size_t i = 0; i < n; ++i)
        s = static_cast<uint8_t>(s + p[i]);
    return s;
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 100) <= 0)
                return; // nobody reads the line: the reply is lost, as on a real line
        } else {
            return;
        }
    }
}
} // namespace

ScriptedValve::ScriptedValve(Behaviour behaviour, speed_t answerSpeed, LockstepClock* clock)
    : behaviour_(std::move(behaviour)), answerSpeed_(answerSpeed), clock_(clock) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throw std::runtime_error("posix_openpt failed");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        throw std::runtime_error("cannot set up the pseudo-terminal");
    }
    slavePath_ = name;
    // On Linux the line settings of a pty pair live with the slave; making them raw here means no
    // echo and no line editing even before the program configures the line.
    termios tio{};
    if (::tcgetattr(master_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
    // A member of the clock from the start: nothing the program sends can be overtaken by time.
    std::unique_lock<std::mutex> lock(m_);
    runningCv_.wait(lock, [this] { return running_; });
}

ScriptedValve::~ScriptedValve() {
    HangUp();
    if (stopFd_ >= 0) ::close(stopFd_);
}

void ScriptedValve::HangUp() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    // The valve may have hung up by itself already; after the join master_ tells.
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

int ScriptedValve::WaitForLine(pollfd* fds, size_t count) {
    return clock_ ? clock_->Poll(fds, count, IClock::FOREVER) : ::poll(fds, static_cast<nfds_t>(count), -1);
}

void ScriptedValve::Run() {
    if (clock_) clock_->Join();
    {
        std::lock_guard<std::mutex> lock(m_);
        running_ = true;
    }
    runningCv_.notify_all();
    std::vector<uint8_t> pending;
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (WaitForLine(fds, 2) < 0 || fds[1].revents) break;
        bool received = false;
        if (fds[0].revents & POLLIN) {
            uint8_t buf[256];
            ssize_t n;
            while ((n = ::read(master_, buf, sizeof buf)) > 0) {
                pending.insert(pending.end(), buf, buf + n);
                received = true;
            }
        }
        if (!received && (fds[0].revents & (POLLHUP | POLLERR))) {
            // The program has the line closed (between two line speeds, say). Nothing announces
            // that it opens it again, so the valve looks again a millisecond later, or stops when
            // told to: a program that ended before all its threads joined the clock never lets
            // that millisecond pass.
            pollfd stop{stopFd_, POLLIN, 0};
            if (clock_)
                clock_->Poll(&stop, 1, 1);
            else
                ::poll(&stop, 1, 1);
            continue;
        }
        for (;;) {
            // A telegram starts with STX; anything else in front of it is line noise.
            const auto stx = std::find(pending.begin(), pending.end(), STX_BYTE);
            pending.erase(pending.begin(), stx);
            if (pending.size() < 2) break;
            const size_t length = pending[1] == LONG_REQUEST_CMD ? LONG_REQUEST_LENGTH : REQUEST_LENGTH;
            if (pending.size() < length) break;
            const std::vector<uint8_t> request(pending.begin(), pending.begin() + static_cast<long>(length));
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
            Handle(request);
            if (HangUpDue()) {
                ::close(master_);
                master_ = -1;
                return;
            }
        }
    }
}

void ScriptedValve::HangUpAfter(size_t n) {
    std::lock_guard<std::mutex> lock(m_);
    hangUpAfter_ = n;
}

bool ScriptedValve::HangUpDue() const {
    std::lock_guard<std::mutex> lock(m_);
    return hangUpAfter_ != 0 && requests_.size() >= hangUpAfter_;
}

void ScriptedValve::Handle(const std::vector<uint8_t>& request) {
    // On Linux the master reports the slave's line settings, i.e. what the program has set.
    termios tio{};
    const speed_t speed = ::tcgetattr(master_, &tio) == 0 ? ::cfgetospeed(&tio) : B0;
    const bool answer = answerSpeed_ == ANY_SPEED || speed == answerSpeed_;
    {
        std::lock_guard<std::mutex> lock(m_);
        requests_.push_back({request, speed, answer});
    }
    if (!answer) return;
    const std::vector<uint8_t> reply = behaviour_(request);
    if (!reply.empty()) WriteAll(master_, reply);
}

std::vector<ScriptedValve::Request> ScriptedValve::Requests() const {
    std::lock_guard<std::mutex> lock(m_);
    return requests_;
}

std::vector<uint8_t> ScriptedValve::Commands() const {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<uint8_t> out;
    for (const Request& r : requests_)
        out.push_back(r.bytes[1]);
    return out;
}

size_t ScriptedValve::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return requests_.size();
}

std::vector<uint8_t> Framed(std::vector<uint8_t> values) {
    const uint8_t bcc = Sum(values.data(), values.size());
    values.insert(values.begin(), STX_BYTE);
    values.push_back(bcc);
    return values;
}

std::vector<uint8_t> WithBadBcc(std::vector<uint8_t> reply) {
    if (!reply.empty()) reply.back() = static_cast<uint8_t>(reply.back() + 1);
    return reply;
}

const std::vector<uint8_t>& ParameterReadCommands() {
    // KPR TIR TDR DBR FOR FGR ILR PFR CYR CCR SRR CAR SOR SLR OFR SPR CBR TRR RFR CDR AZR FRR TLR
    // CFR ASR IPR ALR CER SDR PMR PSR LSR IRR FTR ZPR SHR
    static const std::vector<uint8_t> reads = {2,  4,  6,  8,   51, 53, 55, 57,  59, 101, 18,  97,
                                               24, 49, 14, 16,  99, 10, 67, 103, 85, 20,  69,  107,
                                               73, 75, 71, 105, 65, 26, 12, 61,  77, 45,  127, 63};
    return reads;
}

bool IsWritableRead(uint8_t readCmd) {
    // AZR and ZPR report the auto-zero values; they are never written.
    if (readCmd == 85 || readCmd == 127) return false;
    const auto& reads = ParameterReadCommands();
    return std::find(reads.begin(), reads.end(), readCmd) != reads.end();
}

ValveModel::ValveModel() {
    const auto& reads = ParameterReadCommands();
    for (size_t i = 0; i < reads.size(); ++i)
        values_[reads[i]] = static_cast<uint8_t>(10 + i);
    values_[VER] = 5;
    values_[VTR] = 75; // 25 degrees C
    values_[CTR] = 21;
    values_[STR] = 0x94;
    values_[LER] = 0x39;
    deviceRecord_ = {0x30, 0x12, 0x34, 0x10, 0x00, 0x00, 0x01, 0x00, 0x15, 0x22};
    counterRecord_ = {0x00, 0x05, 0xA0, 0x07, 0x19, 0x03, 0x28, 0x01};
}

std::vector<uint8_t> ValveModel::Answer(const std::vector<uint8_t>& request) {
    if (request.size() != REQUEST_LENGTH || request[0] != STX_BYTE || Sum(&request[1], 2) != request[3])
        return {NAK_BYTE};
    const uint8_t cmd = request[1];
    std::lock_guard<std::mutex> lock(m_);
    if (cmd == DIR) return Framed(deviceRecord_);
    if (cmd == OCR) return Framed(counterRecord_);
    if (const auto it = values_.find(cmd); it != values_.end()) return Framed({it->second});
    const auto readCmd = static_cast<uint8_t>(cmd + 1);
    if (IsWritableRead(readCmd)) {
        values_[readCmd] = request[2];
        return {ACK_BYTE};
    }
    return {NAK_BYTE};
}

void ValveModel::SetValue(uint8_t readCmd, uint8_t value) {
    std::lock_guard<std::mutex> lock(m_);
    values_[readCmd] = value;
}

uint8_t ValveModel::Value(uint8_t readCmd) const {
    std::lock_guard<std::mutex> lock(m_);
    const auto it = values_.find(readCmd);
    return it == values_.end() ? 0 : it->second;
}

void ValveModel::SetDeviceRecord(const std::vector<uint8_t>& tenBytes) {
    std::lock_guard<std::mutex> lock(m_);
    deviceRecord_ = tenBytes;
}

void ValveModel::SetCounterRecord(const std::vector<uint8_t>& eightBytes) {
    std::lock_guard<std::mutex> lock(m_);
    counterRecord_ = eightBytes;
}

} // namespace qln_test
