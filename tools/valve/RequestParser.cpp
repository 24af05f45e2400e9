#include "RequestParser.h"

#include <algorithm>

namespace valve {

size_t RequestLength(uint8_t cmd) {
    return cmd == LONG_REQUEST_CMD ? LONG_REQUEST_LENGTH : SHORT_REQUEST_LENGTH;
}

bool RequestParser::FrameComplete(size_t at) const {
    return buf_.size() >= at + 2 && buf_.size() >= at + RequestLength(buf_[at + 1]);
}

bool RequestParser::FrameValid(size_t at) const {
    const size_t length = RequestLength(buf_[at + 1]);
    return Bcc(&buf_[at + 1], length - 2) == buf_[at + length - 1];
}

// Looks for an STX inside the first `length` bytes after the one at the front.
RequestParser::LaterFrame RequestParser::FindLaterFrame(size_t length) const {
    LaterFrame result;
    for (size_t at = 1; at < length; ++at) {
        if (buf_[at] != STX) continue;
        if (!FrameComplete(at))
            result = {Later::Incomplete, at};
        else if (FrameValid(at))
            return {Later::Valid, at};
    }
    return result;
}

void RequestParser::Drop(size_t count) {
    count = std::min(count, buf_.size());
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(count));
    discarded_ += count;
}

Request RequestParser::Take(size_t length, bool bccOk) {
    Request r;
    r.cmd = buf_[1];
    r.raw.assign(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(length));
    r.data.assign(r.raw.begin() + 2, r.raw.end() - 1);
    r.bccOk = bccOk;
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(length));
    return r;
}

std::vector<Request> RequestParser::Feed(std::span<const uint8_t> bytes, Micros now) {
    if (!bytes.empty()) {
        // A request never spans a pause: what waited from before it was a broken frame.
        if (!buf_.empty() && now - last_ > FRAME_GAP) Drop(buf_.size());
        buf_.insert(buf_.end(), bytes.begin(), bytes.end());
        last_ = now;
    }
    const bool paused = now - last_ > FRAME_GAP;
    std::vector<Request> out;
    for (;;) {
        const auto stx = std::find(buf_.begin(), buf_.end(), STX);
        Drop(static_cast<size_t>(stx - buf_.begin()));
        if (buf_.empty()) break;
        if (!FrameComplete(0)) {
            if (!paused) break;
            Drop(1); // a lone STX or a cut-off frame; look for the next STX
            continue;
        }
        const size_t length = RequestLength(buf_[1]);
        if (FrameValid(0)) {
            out.push_back(Take(length, true));
            continue;
        }
        const LaterFrame later = FindLaterFrame(length);
        if (later.kind == Later::Valid) {
            Drop(later.offset);
            continue;
        }
        if (later.kind == Later::Incomplete && !paused)
            break; // the rest of a request that started inside may still come
        out.push_back(Take(length, false));
    }
    return out;
}

} // namespace valve
