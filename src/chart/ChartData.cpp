#include "chart/ChartData.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
constexpr double Infinity = std::numeric_limits<double>::infinity();
} // namespace

const ChartChannel::BlockRange ChartChannel::EmptyBlockRange{Infinity, -Infinity, Infinity, -Infinity, 0, 0};

void ChartChannel::Include(BlockRange &r, double x, double y, std::uint32_t at)
{
    r.minX = std::min(r.minX, x);
    r.maxX = std::max(r.maxX, x);
    if (y < r.minY) {
        r.minY = y;
        r.minYAt = at;
    }
    if (y > r.maxY) {
        r.maxY = y;
        r.maxYAt = at;
    }
}

void ChartChannel::Merge(BlockRange &into, const BlockRange &part, bool first)
{
    if (first) {
        into = part;
        return;
    }
    // `part` follows `into`: strict comparisons keep the earliest of equal
    // values.
    into.minX = std::min(into.minX, part.minX);
    into.maxX = std::max(into.maxX, part.maxX);
    if (part.minY < into.minY) {
        into.minY = part.minY;
        into.minYAt = part.minYAt;
    }
    if (part.maxY > into.maxY) {
        into.maxY = part.maxY;
        into.maxYAt = part.maxYAt;
    }
}

ChartChannel::ChartChannel(QString title) : m_title(std::move(title)) {}

ChartRange ChartChannel::EmptyRange()
{
    return {Infinity, -Infinity, Infinity, -Infinity, 0, 0};
}

PointMark ChartChannel::mark(qsizetype i) const
{
    const auto it = std::lower_bound(m_marks.begin(), m_marks.end(), i,
                                     [](const auto &entry, qsizetype index) { return entry.first < index; });
    return (it != m_marks.end() && it->first == i) ? it->second : PointMark::None;
}

void ChartChannel::append(double x, double y)
{
    const qsizetype slot = m_count & (BlockSize - 1);
    if (slot == 0 && qsizetype(m_blocks.size()) <= (m_count >> BlockBits))
        m_blocks.push_back(std::make_unique_for_overwrite<Block>());
    Block &block = *m_blocks[std::size_t(m_count >> BlockBits)];
    block.x[std::size_t(slot)] = x;
    block.y[std::size_t(slot)] = y;

    // The finest summary takes the point in at once; each coarser one takes a
    // finished finer one in as a whole. A point with a non-finite coordinate
    // is listed instead, so it never spoils a minimum or maximum.
    BlockRange &fine = block.fine[std::size_t(slot >> FineBits)];
    if ((slot & FineMask) == 0)
        fine = EmptyBlockRange;
    if (std::isfinite(x) && std::isfinite(y)) {
        Include(fine, x, y, std::uint32_t(slot));
        m_extent.minX = std::min(m_extent.minX, x);
        m_extent.maxX = std::max(m_extent.maxX, x);
        if (y < m_extent.minY) {
            m_extent.minY = y;
            m_extent.minYIndex = m_count;
        }
        if (y > m_extent.maxY) {
            m_extent.maxY = y;
            m_extent.maxYIndex = m_count;
        }
    } else {
        m_nonFinite.push_back(m_count);
    }
    if ((slot & FineMask) == FineMask) {
        const auto s = std::size_t(slot);
        Merge(block.mid[s >> MidBits], fine, (s & MidMask) == FineMask);
        if ((s & MidMask) == MidMask) {
            Merge(block.coarse[s >> CoarseBits], block.mid[s >> MidBits], (s & CoarseMask) == MidMask);
            if ((s & CoarseMask) == CoarseMask)
                Merge(block.whole, block.coarse[s >> CoarseBits], std::size_t(slot) == CoarseMask);
        }
    }
    ++m_count;
    ++m_revision;
}

void ChartChannel::markLast(PointMark mark)
{
    if (m_count == 0)
        return;
    const qsizetype last = m_count - 1;
    if (!m_marks.empty() && m_marks.back().first == last) {
        if (mark == PointMark::None)
            m_marks.pop_back();
        else
            m_marks.back().second = mark;
    } else if (mark != PointMark::None) {
        m_marks.emplace_back(last, mark);
    }
    ++m_revision;
}

void ChartChannel::clear()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    clearKeepingStorage();
}

void ChartChannel::clearKeepingStorage()
{
    m_marks.clear();
    m_nonFinite.clear();
    m_count = 0;
    m_extent = EmptyRange();
    ++m_revision;
}

std::size_t ChartChannel::memoryBytes() const
{
    return m_blocks.size() * sizeof(Block) + m_blocks.capacity() * sizeof(void *) +
           m_marks.capacity() * sizeof(m_marks[0]) + m_nonFinite.capacity() * sizeof(qsizetype);
}

qsizetype ChartChannel::nextGap(qsizetype from) const
{
    qsizetype next = m_count;
    if (!m_marks.empty()) {
        const auto it =
            std::lower_bound(m_marks.begin(), m_marks.end(), from,
                             [](const auto &entry, qsizetype index) { return entry.first < index; });
        if (it != m_marks.end())
            next = std::min(next, it->first);
    }
    if (!m_nonFinite.empty()) {
        const auto it = std::lower_bound(m_nonFinite.begin(), m_nonFinite.end(), from);
        if (it != m_nonFinite.end())
            next = std::min(next, *it);
    }
    return next;
}

ChartRange ChartChannel::summary(int level, qsizetype first) const
{
    const Block &block = *m_blocks[std::size_t(first >> BlockBits)];
    const auto slot = std::size_t(first & (BlockSize - 1));
    const BlockRange *r = &block.whole;
    if (level == 1)
        r = &block.coarse[slot >> CoarseBits];
    else if (level == 2)
        r = &block.mid[slot >> MidBits];
    else if (level == 3)
        r = &block.fine[slot >> FineBits];
    const qsizetype base = first & ~(BlockSize - 1);
    return {r->minX, r->maxX, r->minY, r->maxY, base + r->minYAt, base + r->maxYAt};
}

ChartData::ChartData(const std::vector<QString> &titles)
{
    m_channels.reserve(titles.size());
    for (const QString &title : titles)
        m_channels.emplace_back(title);
}

void ChartData::clearAll()
{
    for (ChartChannel &c : m_channels)
        c.clear();
}

quint64 ChartData::revision() const
{
    quint64 sum = 0;
    for (const ChartChannel &c : m_channels)
        sum += c.revision();
    return sum;
}
