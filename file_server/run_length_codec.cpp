#include "file_server/run_length_codec.h"

namespace zelvo::file_server {

namespace {
constexpr uint8_t kMarker = 0x55;
}

void RunLengthDecoder::reset(size_t limit)
{
    state_ = Plain;
    run_ = 0;
    count_ = 0;
    limit_ = limit;
}

void RunLengthDecoder::emit(uint8_t v, unsigned n, uint8_t* out)
{
    // Copies beyond the limit are dropped: a hostile run count costs nothing.
    while (n-- > 0 && count_ < limit_)
        out[count_++] = v;
}

void RunLengthDecoder::put(uint8_t b, uint8_t* out)
{
    switch (state_) {
    case Plain:
        if (b == kMarker)
            state_ = AfterMarker;
        else
            emit(b, 1, out);
        break;
    case AfterMarker:
        if (b == 0) {
            emit(kMarker, 1, out);
            state_ = Plain;
        } else if (b & 0x80) {
            run_ = unsigned(b & 0x7F) << 8;
            state_ = AfterHighCount;
        } else {
            run_ = b;
            state_ = ExpectValue;
        }
        break;
    case AfterHighCount:
        run_ |= b;
        state_ = ExpectValue;
        break;
    case ExpectValue:
        emit(b, run_, out);
        state_ = Plain;
        break;
    }
}

int runLengthEncode(const uint8_t* in, size_t n, uint8_t* out)
{
    size_t o = 0;
    size_t i = 0;
    while (i < n) {
        const uint8_t v = in[i];
        if (i + 2 < n && in[i + 1] == v && in[i + 2] == v) {
            size_t j = i + 3;
            // The two-byte count holds at most 0x7FFF; a longer run continues as a new item.
            while (j < n && in[j] == v && j - i < 0x7FFF)
                ++j;
            const size_t run = j - i;
            out[o++] = kMarker;
            if (run < 128) {
                out[o++] = uint8_t(run);
            } else {
                out[o++] = uint8_t(0x80 | (run >> 8));
                out[o++] = uint8_t(run & 0xFF);
            }
            out[o++] = v;
            i = j;
        } else if (v == kMarker) {
            out[o++] = kMarker;
            out[o++] = 0;
            ++i;
        } else {
            out[o++] = v;
            ++i;
        }
        if (o >= n)
            return -1;
    }
    return int(o);
}

} // namespace zelvo::file_server
