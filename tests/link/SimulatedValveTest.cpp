#include <gtest/gtest.h>

#include "link/LinkTestSupport.h"
#include "link/SimulatedValve.h"

using namespace linktest;

class LinkSimulatedValve : public ::testing::Test {
protected:
    Bytes Answer(const Bytes& telegram) {
        std::fill(std::begin(s->TransmitBuffer), std::end(s->TransmitBuffer), 0);
        std::copy(telegram.begin(), telegram.end(), s->TransmitBuffer);
        SimulatedValveAnswer(*s);
        Bytes out(s->Ring.Available());
        s->Ring.Take(out.data(), static_cast<uint32_t>(out.size()));
        return out;
    }
    Bytes Ask(uint8_t cmd, uint8_t data = 0) {
        return Answer({STX, cmd, data, static_cast<uint8_t>(cmd + data)});
    }
    Bytes AskWithBadBcc(uint8_t cmd) { return Answer({STX, cmd, 0, static_cast<uint8_t>(cmd + 1)}); }
    Bytes Samples(int32_t length) {
        s->ExpectedLength.store(length);
        return Ask(254);
    }
    ManualClock clock;
    std::unique_ptr<LinkState> s = std::make_unique<LinkState>(clock);
};

TEST_F(LinkSimulatedValve, AnswersValueReads) {
    EXPECT_EQ(Ask(35), (Bytes{STX, 0x17, 0x17}));
    EXPECT_EQ(Ask(2, 0), (Bytes{STX, 0x40, 0x40}));
    EXPECT_EQ(Ask(30), (Bytes{STX, 0x1B, 0x1B}));
    EXPECT_EQ(Ask(92), (Bytes{STX, 0x10, 0x10}));
    EXPECT_EQ(Ask(94), (Bytes{STX, 0x03, 0x03}));
    EXPECT_EQ(Ask(81), (Bytes{STX, 0x83, 0x83}));
    EXPECT_EQ(Ask(108), (Bytes{STX, 0x00, 0x00}));
    EXPECT_EQ(Ask(0), (Bytes{0x00, 0x01, 0x02, 0x00})) << "unknown command";
    EXPECT_EQ(Ask(200), (Bytes{0x00, 0x01, 0x02, 0x00}));
}

TEST_F(LinkSimulatedValve, InvalidRequestsPerRow) {
    // These reads answer whatever the request holds; the mended reads 45, 77, 148 and 150 too, so
    // that every action can complete in test mode.
    for (uint8_t cmd : {2, 127, 45, 77, 148, 150}) {
        EXPECT_EQ(Ask(cmd), (Bytes{STX, 0x40, 0x40})) << int(cmd);
        EXPECT_EQ(AskWithBadBcc(cmd), (Bytes{STX, 0x40, 0x40})) << int(cmd);
    }
    EXPECT_EQ(AskWithBadBcc(110), (Bytes{STX, 0xFF, 0xFF}));
    EXPECT_EQ(AskWithBadBcc(35), (Bytes{STX, NAK, 0x00}));
    EXPECT_EQ(AskWithBadBcc(112), (Bytes{STX, NAK, NAK}));
    EXPECT_EQ(AskWithBadBcc(113), (Bytes{STX, NAK, 0x00}));
    EXPECT_EQ(AskWithBadBcc(117), (Bytes{STX, NAK, 0x00}));

    // Writes, including the mended 147 and 149, are acknowledged only when valid.
    for (uint8_t cmd : {1, 115, 145, 147, 149}) {
        EXPECT_EQ(Ask(cmd, 7), Bytes{ACK}) << int(cmd);
        EXPECT_EQ(AskWithBadBcc(cmd), Bytes{NAK}) << int(cmd);
        EXPECT_EQ(Answer({0x03, cmd, 0, cmd}), Bytes{NAK}) << "wrong STX, command " << int(cmd);
    }
}

TEST_F(LinkSimulatedValve, AnswersTheRecords) {
    EXPECT_EQ(Ask(112), (Bytes{STX, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x2D}));
    EXPECT_EQ(Ask(113), (Bytes{STX, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0xDC}));
    EXPECT_EQ(Ask(117), (Bytes{STX, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x37}));
}

TEST_F(LinkSimulatedValve, MatrixRowWriteChecksTheLongForm) {
    Bytes row{STX, 116, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    row.push_back(Bcc(row.data() + 1, 11));
    EXPECT_EQ(Answer(row), Bytes{ACK});
    row[12] ^= 1;
    EXPECT_EQ(Answer(row), Bytes{NAK});
    EXPECT_EQ(Ask(116), Bytes{NAK}) << "the short form is not a valid row";
}

TEST_F(LinkSimulatedValve, StreamsSamplesOfTheExpectedLength) {
    // The last record is cut short; the counter still moves past it.
    EXPECT_EQ(Samples(14), (Bytes{STX, 0x7F, 0, 0xC0, 0x80, 0, STX, 0x80, 0, 0xC0, 0x80, 0, STX, 0x82}));
    EXPECT_EQ(Samples(6), (Bytes{STX, 0x83, 0, 0xC0, 0x80, 0}));

    // Bytes 2 and 5 stay 0 until the counter has reached 100.
    s->SimSampleCounter = 98;
    EXPECT_EQ(Samples(18), (Bytes{STX, 0xE9, 0x00, 0xC0, 0x80, 0x00, STX, 0xEA, 0x04, 0xC0, 0x80, 0x02, STX,
                                  0xEA, 0x01, 0xC0, 0x80, 0x02}));
    // After 3000 the counter starts again at 0; (201 - 3000) * 2.55 keeps its low byte.
    s->SimSampleCounter = 3000;
    EXPECT_EQ(Samples(12), (Bytes{STX, 0x01, 0x1F, 0xC0, 0x80, 0x02, STX, 0x7F, 0, 0xC0, 0x80, 0}));
}

TEST_F(LinkSimulatedValve, StartAcquisitionNeedsAnIdleSampleCounter) {
    Samples(6);
    EXPECT_EQ(Ask(41), Bytes{NAK}) << "samples are still streaming";
    EXPECT_EQ(Ask(41), Bytes{ACK}) << "the refused request has reset the counter";
    Samples(6);
    EXPECT_EQ(Ask(39), Bytes{ACK});
    EXPECT_EQ(Ask(41), Bytes{ACK}) << "any acknowledged write resets the counter";
    Samples(6);
    EXPECT_EQ(AskWithBadBcc(41), Bytes{NAK});
}
