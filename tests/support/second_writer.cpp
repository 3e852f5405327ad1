#include "second_writer.h"

#include "in_process_request.h"

namespace {
// Long enough for an apply that stores a user mode, or for the first request of a program starting.
constexpr int kReplyLimitMs = 20000;
}

SecondWriter SecondWriter::inProcess(uint64_t peer)
{
    return SecondWriter(peer);
}

SecondWriter SecondWriter::overTcp(int port)
{
    SecondWriter w(0);
    w.client_ = std::make_unique<FrameClient>(port, kReplyLimitMs);
    return w;
}

int SecondWriter::request(const Bytes& wireBody, Bytes* reply)
{
    Bytes got;
    if (client_) {
        got = client_->request(wireBody, kReplyLimitMs);
    } else if (wireBody.size() >= 2 && wireBody.size() - 1 <= kMessageBufferSize && Wire::checkOk(wireBody)) {
        // as a transport: a frame failing its check, or longer than its buffer, is dropped
        Bytes buffer(kMessageBufferSize, 0);
        std::copy(wireBody.begin(), wireBody.end() - 1, buffer.begin());
        message_deal handler;
        const uint32_t n = runInProcess(handler, buffer.data(), uint32_t(wireBody.size() - 1), kMessageBufferSize, peer_);
        if (n > 0)
            got = Wire::sealed(Bytes(buffer.begin(), buffer.begin() + 10 + n));
    }
    if (reply)
        *reply = got;
    return got.size() >= 12 && Wire::checkOk(got) ? got[10] : -1;
}

int SecondWriter::request(uint8_t group, const Bytes& payload, Bytes* reply)
{
    return request(Wire::request(group, payload), reply);
}

int SecondWriter::writeBlock(uint32_t offset, const Bytes& bytes)
{
    return request(Wire::writeRam(offset, bytes));
}

int SecondWriter::apply()
{
    return request(0xA0, {11, 0x02, 0x00, 0x02}); // register, mask, spare, value
}

int SecondWriter::set(uint32_t offset, const Bytes& bytes)
{
    const int written = writeBlock(offset, bytes);
    return written != 0 ? written : apply();
}

int SecondWriter::set16(uint32_t offset, uint16_t value)
{
    return set(offset, {uint8_t(value), uint8_t(value >> 8)});
}
