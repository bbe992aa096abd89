#pragma once
// The time a real line takes. A pseudo-terminal moves bytes at once, whatever
// baud rate its ends are set to; a line at B baud carries a byte (start bit,
// eight data bits, stop bit) in 10 / B seconds, and one sender at a time. The
// pacer tells when the last byte of a frame would have arrived, keeping the
// frames that go out one after the other on the line.

#include <algorithm>
#include <chrono>
#include <cstddef>

class LinePacer
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int BitsPerByte = 10;

    /// 0: no pacing (bytes go out as soon as they are ready).
    explicit LinePacer(int baud = 0)
        : m_byteTime(baud > 0 ? std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(double(BitsPerByte) / baud))
                              : Clock::duration::zero())
    {
    }

    bool active() const { return m_byteTime > Clock::duration::zero(); }
    /// How long `bytes` take on the line.
    Clock::duration wireTime(std::size_t bytes) const { return m_byteTime * static_cast<long long>(bytes); }
    /// `bytes` ready to go at `ready` start once the line is free; returns
    /// when their last byte has arrived (and the line is free again).
    Clock::time_point send(Clock::time_point ready, std::size_t bytes)
    {
        m_freeAt = std::max(ready, m_freeAt) + wireTime(bytes);
        return m_freeAt;
    }

private:
    Clock::duration m_byteTime;
    Clock::time_point m_freeAt{};
};
