#include "chart/ChartData.h"

// The wall-clock times of a channel's points (see ChartChannel).

#include <cmath>
#include <cstring>
#include <limits>

namespace
{

/// Bytes a signed time offset needs: 1, 2, 4 or 8.
int OffsetWidth(qint64 offset)
{
    if (offset >= std::numeric_limits<qint8>::min() && offset <= std::numeric_limits<qint8>::max())
        return 1;
    if (offset >= std::numeric_limits<qint16>::min() && offset <= std::numeric_limits<qint16>::max())
        return 2;
    if (offset >= std::numeric_limits<qint32>::min() && offset <= std::numeric_limits<qint32>::max())
        return 4;
    return 8;
}

template <typename T> qint64 ReadOffset(const std::byte *at)
{
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <typename T> void WriteOffset(std::byte *at, qint64 offset)
{
    const auto v = T(offset);
    std::memcpy(at, &v, sizeof v);
}
} // namespace

qint64 ChartChannel::BlockTimes::at(std::size_t slot) const
{
    const std::byte *p = offsets.get() + slot * std::size_t(width);
    qint64 offset = 0;
    switch (width) {
    case 1:
        offset = ReadOffset<qint8>(p);
        break;
    case 2:
        offset = ReadOffset<qint16>(p);
        break;
    case 4:
        offset = ReadOffset<qint32>(p);
        break;
    default:
        offset = ReadOffset<qint64>(p);
        break;
    }
    return runStart[slot >> TimeRunBits] + offset;
}

void ChartChannel::BlockTimes::set(std::size_t slot, qint64 ms)
{
    qint64 offset = 0;
    if ((slot & TimeRunMask) == 0)
        runStart[slot >> TimeRunBits] = ms;
    else
        offset = ms - runStart[slot >> TimeRunBits]; // wraps only for times no clock gives
    if (OffsetWidth(offset) > width)
        widen(OffsetWidth(offset), slot); // may throw: the slot is not written then
    std::byte *p = offsets.get() + slot * std::size_t(width);
    switch (width) {
    case 1:
        WriteOffset<qint8>(p, offset);
        break;
    case 2:
        WriteOffset<qint16>(p, offset);
        break;
    case 4:
        WriteOffset<qint32>(p, offset);
        break;
    default:
        WriteOffset<qint64>(p, offset);
        break;
    }
}

void ChartChannel::BlockTimes::widen(int toWidth, std::size_t filled)
{
    BlockTimes wider;
    wider.width = toWidth;
    wider.offsets =
        std::make_unique_for_overwrite<std::byte[]>(std::size_t(BlockSize) * std::size_t(toWidth));
    wider.runStart = runStart;
    for (std::size_t s = 0; s < filled; ++s)
        wider.set(s, at(s));
    offsets = std::move(wider.offsets);
    width = toWidth;
}

ChartChannel::BlockTimes &ChartChannel::blockTimes(Block &block)
{
    if (!block.times) {
        auto times = std::make_unique_for_overwrite<BlockTimes>();
        times->width = 1;
        times->offsets = std::make_unique_for_overwrite<std::byte[]>(std::size_t(BlockSize));
        block.times = std::move(times);
    }
    return *block.times;
}

qint64 ChartChannel::time(qsizetype i) const
{
    if (!m_timed)
        return 0;
    return m_blocks[std::size_t(i >> BlockBits)]->times->at(std::size_t(i & (BlockSize - 1)));
}

bool ChartChannel::timeAtX(double x, qint64 &ms) const
{
    if (!m_timed || m_count == 0 || !(x >= this->x(0)) || !(x <= this->x(m_count - 1)))
        return false;
    qsizetype low = 0, high = m_count - 1; // x(low) <= x <= x(high)
    while (high - low > 1) {
        const qsizetype mid = low + (high - low) / 2;
        if (this->x(mid) <= x)
            low = mid;
        else
            high = mid;
    }
    const double x0 = this->x(low), x1 = this->x(high);
    const qint64 t0 = time(low), t1 = time(high);
    if (x1 == x0 || x == x0) {
        ms = x == x1 ? t1 : t0;
        return true;
    }
    ms = t0 + qint64(std::llround(double(t1 - t0) * (x - x0) / (x1 - x0)));
    return true;
}

void ChartChannel::appendTimed(double x, double y, qint64 ms)
{
    if (m_count == 0)
        m_timed = true;
    const qint64 before = m_lastTime;
    m_lastTime = ms;
    try {
        append(x, y);
    } catch (...) {
        m_lastTime = before;
        throw;
    }
}

void ChartChannel::fillTimes(qsizetype from)
{
    for (qsizetype i = from; i < m_count; ++i)
        m_blocks[std::size_t(i >> BlockBits)]->times->set(std::size_t(i & (BlockSize - 1)), m_lastTime);
}
