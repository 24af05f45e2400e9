#include <gtest/gtest.h>

#include "link/LinkTestSupport.h"

using namespace linktest;

TEST(LinkBcc, IsTheByteSumAfterStxWithWrapAround) {
    const uint8_t request[] = {STX, 0x02, 0x00, 0x02};
    EXPECT_EQ(Bcc(request + 1, 2), request[3]);
    const uint8_t reply[] = {STX, 0x40, 0x40};
    EXPECT_EQ(Bcc(reply + 1, 1), reply[2]);
    const uint8_t wrap[] = {0xFF, 0x02};
    EXPECT_EQ(Bcc(wrap, 2), 0x01);
    // No complement and no XOR: 0x0F + 0x0F is 0x1E (XOR would give 0).
    const uint8_t same[] = {0x0F, 0x0F};
    EXPECT_EQ(Bcc(same, 2), 0x1E);
    EXPECT_EQ(Bcc(nullptr, 0), 0);
}

TEST(LinkReceiveRing, KeepsOneSlotFree) {
    auto ring = std::make_unique<ReceiveRing>();
    const Bytes big(ReceiveRing::RING_SIZE, 0x5A);
    EXPECT_EQ(ring->Append(big.data(), static_cast<uint32_t>(big.size())), 19999u);
    EXPECT_EQ(ring->Available(), 19999u);
    EXPECT_EQ(ring->Free(), 0u);
    EXPECT_EQ(ring->Append(big.data(), 1), 0u);
    uint8_t one = 0;
    ring->Take(&one, 1);
    EXPECT_EQ(ring->Free(), 1u);

    // Full with the write index behind the read index.
    ring->SetIndices(5, 4);
    EXPECT_EQ(ring->Available(), 19999u);
    ring->SetIndices(19999, 0);
    EXPECT_EQ(ring->Available(), 1u);
}

TEST(LinkReceiveRing, FreeSpaceIsHandedOutInTwoPiecesAcrossTheEnd) {
    auto ring = std::make_unique<ReceiveRing>();
    ring->SetIndices(19990, 19996);
    ReceiveRing::Span spans[2];
    ASSERT_EQ(ring->FreeSpans(10, spans), 2);
    EXPECT_EQ(spans[0].size, 4u);
    EXPECT_EQ(spans[1].size, 6u);
    const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::copy(bytes, bytes + 4, spans[0].data);
    std::copy(bytes + 4, bytes + 10, spans[1].data);
    ring->Commit(10);
    EXPECT_EQ(ring->WriteIndex(), 6u);
    ring->Skip(6);
    uint8_t out[10] = {};
    ring->Take(out, 10);
    EXPECT_EQ(Bytes(out, out + 10), Bytes(bytes, bytes + 10));

    // No more than the free space, one slot always kept.
    ring->SetIndices(100, 95);
    ASSERT_EQ(ring->FreeSpans(1000, spans), 1);
    EXPECT_EQ(spans[0].size, 4u);
    ring->SetIndices(100, 99);
    EXPECT_EQ(ring->FreeSpans(1000, spans), 0) << "a full ring has no room";
}

class LinkReplyExtraction : public ::testing::Test {
protected:
    void Feed(const Bytes& bytes) {
        ASSERT_EQ(s->Ring.Append(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
    }
    ManualClock clock;
    std::unique_ptr<LinkState> s = std::make_unique<LinkState>(clock);
};

TEST_F(LinkReplyExtraction, ReplyInPiecesIsHandedOverOnlyWhenComplete) {
    s->ExpectedLength.store(12);
    std::fill(std::begin(s->ReplyBuffer), std::end(s->ReplyBuffer), 0xEE);
    Feed({STX, 0, 1, 2});
    EXPECT_FALSE(ExtractReply(*s));
    Feed({3, 4, 5, 6});
    EXPECT_FALSE(ExtractReply(*s));
    EXPECT_EQ(s->ReplyBuffer[0], 0xEE) << "nothing handed over before the reply is complete";
    EXPECT_EQ(s->Ring.Available(), 8u);
    Feed({7, 8, 9, 0x2D});
    ASSERT_TRUE(ExtractReply(*s));
    // Zero-filled before the copy: nothing of an older, longer content stays behind the reply.
    EXPECT_EQ(ReplyBytes(*s, 13), (Bytes{STX, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x2D, 0}));
    EXPECT_EQ(s->Ring.Available(), 0u);
}

TEST_F(LinkReplyExtraction, LeadingJunkOutsideSampleStreamIsTheStartOfTheReply) {
    s->ExpectedLength.store(3);
    Feed({0x00, STX, 0x40, 0x40});
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 3), (Bytes{0x00, STX, 0x40})); // the engine sees the wrong STX
    EXPECT_EQ(s->Ring.Available(), 1u);
}

TEST_F(LinkReplyExtraction, LoneNakIsHandedOverAtOnceAsARefusal) {
    s->ExpectedLength.store(3);
    Feed({NAK});
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 3), (Bytes{NAK, 0, 0})); // the engine sees the wrong STX: a bad reply
    // In the sample stream a NAK byte is just data to skip.
    s->SampleStreamMode.store(1);
    s->ExpectedLength.store(6);
    Feed({NAK});
    EXPECT_FALSE(ExtractReply(*s));
}

TEST_F(LinkReplyExtraction, SampleStreamSkipsUpToNineBytesToTheStx) {
    s->SampleStreamMode.store(1);
    s->ExpectedLength.store(6);
    Feed({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, STX, 1, 2, 3, 4});
    EXPECT_FALSE(ExtractReply(*s)) << "record behind the junk is not complete yet";
    EXPECT_EQ(s->Ring.Available(), 14u) << "an incomplete record leaves the ring untouched";
    Feed({5});
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 6), (Bytes{STX, 1, 2, 3, 4, 5}));
    EXPECT_EQ(s->Ring.Available(), 0u);
}

TEST_F(LinkReplyExtraction, SampleStreamWithoutStxAmongTenDropsThemAndGoesOn) {
    s->SampleStreamMode.store(1);
    s->ExpectedLength.store(6);
    const Bytes junk(10, 0x33);
    Feed(junk);
    Feed({STX, 1, 2, 3, 4, 5});
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 6), (Bytes{STX, 1, 2, 3, 4, 5}));

    // The bytes after the ten dropped ones are taken whatever they hold.
    Feed(junk);
    Feed(Bytes(6, 0x44));
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 6), Bytes(6, 0x44));

    // Fewer than ten bytes without STX: only those are dropped; the read index never passes the
    // write index, so the ring stays consistent for the next record.
    Feed(Bytes(7, 0x55));
    EXPECT_FALSE(ExtractReply(*s));
    EXPECT_EQ(s->Ring.Available(), 0u);
    EXPECT_EQ(s->Ring.ReadIndex(), s->Ring.WriteIndex());
    Feed({STX, 6, 7, 8, 9, 10});
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 6), (Bytes{STX, 6, 7, 8, 9, 10}));
}

TEST_F(LinkReplyExtraction, RingWrapsAroundAtItsEnd) {
    s->Ring.SetIndices(19998, 19998);
    Feed({STX, 0x40, 0x40});
    EXPECT_EQ(s->Ring.WriteIndex(), 1u);
    s->ExpectedLength.store(3);
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 3), (Bytes{STX, 0x40, 0x40}));
    EXPECT_EQ(s->Ring.ReadIndex(), 1u);

    // Skipping to the STX wraps as well.
    s->Ring.SetIndices(19996, 19996);
    s->SampleStreamMode.store(1);
    s->ExpectedLength.store(6);
    Feed({0x11, 0x22, 0x33, STX, 1, 2, 3, 4, 5});
    ASSERT_TRUE(ExtractReply(*s));
    EXPECT_EQ(ReplyBytes(*s, 6), (Bytes{STX, 1, 2, 3, 4, 5}));
    EXPECT_EQ(s->Ring.ReadIndex(), 5u);
}
