#include "chart/ChartData.h"

#include "io/Platform.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace
{
constexpr double Infinity = std::numeric_limits<double>::infinity();

using Platform::PrepareForWriting;

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

void ChartChannel::copyPoints(qsizetype first, qsizetype n, double *x, double *y) const
{
    while (n > 0) {
        const Block &block = *m_blocks[std::size_t(first >> BlockBits)];
        const auto slot = std::size_t(first & (BlockSize - 1));
        const qsizetype run = std::min(n, BlockSize - qsizetype(slot));
        if (block.storedX) {
            std::copy_n(block.x->data() + slot, run, x);
        } else {
            for (qsizetype k = 0; k < run; ++k)
                x[k] = block.x0 + double(slot + std::size_t(k));
        }
        std::copy_n(block.y.data() + slot, run, y);
        first += run;
        n -= run;
        x += run;
        y += run;
    }
}

ChartChannel::Block &ChartChannel::tailBlock()
{
    const auto index = std::size_t(m_count >> BlockBits);
    if (index == m_blocks.size())
        addBlock();
    return *m_blocks[index];
}

void ChartChannel::addBlock()
{
    if (m_blockLimit >= 0 && qsizetype(m_blocks.size()) >= m_blockLimit)
        throw std::bad_alloc();
    // If the list cannot grow, the new block is freed again.
    m_blocks.push_back(std::make_unique_for_overwrite<Block>());
}

qsizetype ChartChannel::xArrayCount() const
{
    qsizetype arrays = m_spareX ? 1 : 0;
    for (const auto &block : m_blocks)
        arrays += block->x ? 1 : 0;
    return arrays;
}

std::unique_ptr<ChartChannel::Coordinates> ChartChannel::newXArray()
{
    if (m_xArrayLimit >= 0 && xArrayCount() >= m_xArrayLimit)
        throw std::bad_alloc();
    return std::make_unique_for_overwrite<Coordinates>();
}

bool ChartChannel::FollowsX0(const Block &block, const double *x, std::size_t slot, qsizetype count)
{
    bool follows = true;
    for (qsizetype k = 0; k < count; ++k)
        follows = follows & SameBits(x[k], block.x0 + double(slot + std::size_t(k)));
    return follows;
}

void ChartChannel::StoreX(Block &block, std::size_t filled, std::unique_ptr<Coordinates> &spare)
{
    if (!block.x)
        block.x = std::move(spare);
    for (std::size_t s = 0; s < filled; ++s)
        (*block.x)[s] = block.x0 + double(s);
    block.storedX = true;
}

void ChartChannel::startBlock(Block &block, double x)
{
    if (CanDeriveX(x)) {
        block.x0 = x;
        block.storedX = false;
    } else {
        StoreX(block, 0, m_spareX);
    }
}

template <typename List> void ChartChannel::ReserveMore(List &list, std::size_t more)
{
    constexpr std::size_t MinimumCapacity = 16;
    if (list.capacity() - list.size() >= more)
        return;
    list.reserve(std::max({list.size() + more, 2 * list.capacity(), MinimumCapacity}));
}

void ChartChannel::reserve(qsizetype points)
{
    const auto blocks = std::size_t((m_count + points + BlockSize - 1) >> BlockBits);
    while (m_blocks.size() < blocks)
        addBlock();
    // Any X can come: every block the points go into gets an X array.
    for (auto b = std::size_t(m_count >> BlockBits); b < blocks; ++b) {
        if (!m_blocks[b]->x)
            m_blocks[b]->x = newXArray();
    }
}

void ChartChannel::appendMarked(double x, double y, PointMark mark)
{
    // The mark's entry is there before the point is: marking cannot fail.
    if (mark != PointMark::None)
        ReserveMore(m_marks, 1);
    append(x, y);
    markLast(mark);
}

void ChartChannel::FinishFine(Block &block, std::size_t lastSlot)
{
    const std::size_t s = lastSlot;
    Merge(block.mid[s >> MidBits], block.fine[s >> FineBits], (s & MidMask) == FineMask);
    if ((s & MidMask) == MidMask) {
        Merge(block.coarse[s >> CoarseBits], block.mid[s >> MidBits], (s & CoarseMask) == MidMask);
        if ((s & CoarseMask) == CoarseMask)
            Merge(block.whole, block.coarse[s >> CoarseBits], s == CoarseMask);
    }
}

void ChartChannel::includeInExtent(const BlockRange &part, qsizetype base)
{
    // The same comparisons as a point-by-point append makes, so the earliest
    // of equal values wins here too.
    m_extent.minX = std::min(m_extent.minX, part.minX);
    m_extent.maxX = std::max(m_extent.maxX, part.maxX);
    if (part.minY < m_extent.minY) {
        m_extent.minY = part.minY;
        m_extent.minYIndex = base + part.minYAt;
    }
    if (part.maxY > m_extent.maxY) {
        m_extent.maxY = part.maxY;
        m_extent.maxYIndex = base + part.maxYAt;
    }
}

void ChartChannel::append(double x, double y)
{
    Block &block = tailBlock();
    const qsizetype slot = m_count & (BlockSize - 1);
    const bool storeX = slot == 0 ? !CanDeriveX(x) : !block.storedX && !SameBits(x, block.x0 + double(slot));
    if (storeX && !block.x && !m_spareX)
        m_spareX = newXArray(); // with the time below, the only steps that can fail
    if (m_timed)
        blockTimes(block).set(std::size_t(slot), m_lastTime);
    if (slot == 0)
        startBlock(block, x);
    else if (storeX)
        StoreX(block, std::size_t(slot), m_spareX);
    if (block.storedX)
        (*block.x)[std::size_t(slot)] = x;
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
    if ((slot & FineMask) == FineMask)
        FinishFine(block, std::size_t(slot));
    ++m_count;
    ++m_revision;
}

void ChartChannel::appendRange(const double *x, const double *y, qsizetype n)
{
    appendFilled(n, [&x, &y](double *toX, double *toY, qsizetype, qsizetype count) {
        std::copy_n(x, count, toX);
        std::copy_n(y, count, toY);
        x += count;
        y += count;
    });
}

ChartChannel::Span ChartChannel::openSpan(qsizetype wanted)
{
    const std::size_t blocksBefore = m_blocks.size();
    Block &block = tailBlock();
    const auto slot = std::size_t(m_count & (BlockSize - 1));
    const qsizetype count = std::min(wanted, BlockSize - qsizetype(slot));
    const std::size_t rest = std::size_t(BlockSize) - slot;
    // New memory that bulk appends are about to fill has its pages taken in
    // one go rather than one page fault at a time.
    if (m_blocks.size() != blocksBefore)
        PrepareForWriting(block.y.data() + slot, rest * sizeof(double));
    Coordinates *x = block.x.get();
    if (!x) {
        if (!m_spareX) {
            m_spareX = newXArray();
            PrepareForWriting(m_spareX->data() + slot, rest * sizeof(double));
        }
        x = m_spareX.get();
    }
    return {x->data() + slot, block.y.data() + slot, count};
}

bool ChartChannel::ExtentOfFiniteRun(const Block &block, std::size_t from, std::size_t to, BlockRange &r)
{
    return block.storedX ? ExtentOfFiniteRunOf<true>(block, from, to, r)
                         : ExtentOfFiniteRunOf<false>(block, from, to, r);
}

template <bool StoredX>
bool ChartChannel::ExtentOfFiniteRunOf(const Block &block, std::size_t from, std::size_t to, BlockRange &r)
{
    bool finite = true;
    double minX = r.minX;
    double maxX = r.maxX;
    double minY = r.minY;
    double maxY = r.maxY;
    std::uint32_t minYAt = r.minYAt;
    std::uint32_t maxYAt = r.maxYAt;
    for (std::size_t s = from; s < to; ++s) {
        const double x = StoredX ? (*block.x)[s] : block.x0 + double(s);
        const double y = block.y[s];
        finite = finite & std::isfinite(x) & std::isfinite(y);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        const bool lower = y < minY;
        minY = lower ? y : minY;
        minYAt = lower ? std::uint32_t(s) : minYAt;
        const bool higher = y > maxY;
        maxY = higher ? y : maxY;
        maxYAt = higher ? std::uint32_t(s) : maxYAt;
    }
    r = {minX, maxX, minY, maxY, minYAt, maxYAt};
    return finite;
}

void ChartChannel::closeSpan(const Span &span)
{
    Block &block = *m_blocks[std::size_t(m_count >> BlockBits)];
    const qsizetype base = m_count & ~(BlockSize - 1);
    auto slot = std::size_t(m_count & (BlockSize - 1));
    const std::size_t end = slot + std::size_t(span.count);
    // The X went to the block's own X array or to the spare one (openSpan()),
    // so storing them from here on takes no memory and cannot fail.
    if (slot == 0)
        startBlock(block, span.x[0]);
    if (!block.storedX && !FollowsX0(block, span.x, slot, span.count))
        StoreX(block, slot, m_spareX);
    // Bulk points carry no time: they take the last one, which fits the
    // offsets the block already has, so only a new block's times can fail.
    if (m_timed)
        blockTimes(block);
    const qsizetype countBefore = m_count;
    // One finest run (or the part of it in the span) at a time: its extent
    // first, then the same merges a point-by-point append makes once the run
    // is complete. Each run is taken in whole, count included, before the
    // next: if the list of non-finite points cannot grow, the runs before
    // stay and no summary covers a point the channel does not hold.
    while (slot < end) {
        const std::size_t runEnd = std::min(end, (slot | FineMask) + 1);
        BlockRange part = EmptyBlockRange;
        if (!ExtentOfFiniteRun(block, slot, runEnd, part)) {
            ReserveMore(m_nonFinite, runEnd - slot);
            part = EmptyBlockRange;
            for (std::size_t s = slot; s < runEnd; ++s) {
                const double x = block.xAt(s);
                if (std::isfinite(x) && std::isfinite(block.y[s]))
                    Include(part, x, block.y[s], std::uint32_t(s));
                else
                    m_nonFinite.push_back(base + qsizetype(s));
            }
        }
        Merge(block.fine[slot >> FineBits], part, (slot & FineMask) == 0);
        includeInExtent(part, base);
        if ((runEnd & FineMask) == 0)
            FinishFine(block, runEnd - 1);
        const auto taken = qsizetype(runEnd - slot);
        m_count += taken;
        m_revision += quint64(taken);
        slot = runEnd;
    }
    if (m_timed)
        fillTimes(countBefore);
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
    m_spareX.reset();
    clearKeepingStorage();
}

void ChartChannel::clearKeepingStorage()
{
    m_marks.clear();
    m_nonFinite.clear();
    m_count = 0;
    m_extent = EmptyRange();
    m_timed = false;
    m_lastTime = 0;
    ++m_revision;
}

std::size_t ChartChannel::memoryBytes() const
{
    std::size_t times = 0;
    for (const auto &block : m_blocks)
        times +=
            block->times ? sizeof(BlockTimes) + std::size_t(BlockSize) * std::size_t(block->times->width) : 0;
    return times + m_blocks.size() * sizeof(Block) + std::size_t(xArrayCount()) * sizeof(Coordinates) +
           m_blocks.capacity() * sizeof(void *) + m_marks.capacity() * sizeof(m_marks[0]) +
           m_nonFinite.capacity() * sizeof(qsizetype);
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

void ChartChannel::prefetchRunEnds(qsizetype from, qsizetype to) const
{
    // A cache line holds 8 Y values; a summary is 40 bytes.
    constexpr std::size_t LineValues = 8;
    const Block &block = *m_blocks[std::size_t(from >> BlockBits)];
    const auto first = std::size_t(from & (BlockSize - 1));
    const std::size_t last = std::min(first + std::size_t(to - from), std::size_t(BlockSize)) - 1;
    for (const std::size_t end : {first, last}) {
        const std::size_t runStart = end & ~FineMask;
        for (std::size_t s = runStart; s <= (end | FineMask); s += LineValues)
            __builtin_prefetch(&block.y[s]);
        const std::size_t midStart = end & ~MidMask;
        for (std::size_t f = midStart >> FineBits; f <= (end | MidMask) >> FineBits; f += 2)
            __builtin_prefetch(&block.fine[f]);
        __builtin_prefetch(&block.mid[end >> MidBits]);
    }
}

ChartData::ChartData(const std::vector<QString> &titles)
{
    m_channels.reserve(titles.size());
    for (const QString &title : titles)
        m_channels.emplace_back(title);
}

int ChartData::addChannel(const QString &title)
{
    m_channels.emplace_back(title);
    ++m_retired;
    return channelCount() - 1;
}

void ChartData::removeChannel(int channel)
{
    m_retired += m_channels[std::size_t(channel)].revision() + 1;
    m_channels.erase(m_channels.begin() + channel);
}

void ChartData::clearAll()
{
    for (ChartChannel &c : m_channels)
        c.clear();
}

quint64 ChartData::revision() const
{
    quint64 sum = m_retired;
    for (const ChartChannel &c : m_channels)
        sum += c.revision();
    return sum;
}
