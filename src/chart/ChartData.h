#pragma once
// Data store of the chart component: channels (added and removed at run
// time), each an append-only sequence of points (X, Y, mark, and optionally
// the wall-clock time of each point). Drawing is separate (ChartWidget); the
// store never waits for it.

#include <QString>
#include <QtGlobal>

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

enum class PointMark : std::uint8_t { None = 0, Null = 1, Empty = 2 };

/// Extent of a run of points: smallest and largest X and Y, and the indexes
/// of the first point holding the smallest and the largest Y. Only finite
/// coordinates count; a run without any has minX > maxX.
struct ChartRange {
    double minX;
    double maxX;
    double minY;
    double maxY;
    qsizetype minYIndex;
    qsizetype maxYIndex;

    bool isEmpty() const { return !(minX <= maxX); }
};

/// One channel. Points live in fixed-size blocks, so an append is O(1), never
/// moves existing points and allocates only once per block. Marks are rare
/// (they come only from imported files) and are kept in a sorted side list.
///
/// A block stores no X while its X values run x0, x0 + 1, x0 + 2, ... (as
/// live samples do: their X is the sample count); it then costs the Y double
/// plus the block bookkeeping per point. The first point that breaks the run
/// gives the block an X array, filled with the run so far, and from then on
/// the block stores every X (imported points keep their own). Reading back
/// gives the same values either way.
///
/// Each block also keeps a small pyramid of extents (per 64, 512, 4096 and
/// 65,536 points), updated on every append, so the drawing side can thin
/// millions of points without visiting each one.
///
/// A channel can keep the wall-clock time of each point (ms since the epoch):
/// from the first appendTimed() into an empty channel on, every point has
/// one. Times are stored per run of 128 points as the run's first time plus
/// a small signed offset per point, one byte while the run spans less than
/// about an eighth of a second (live samples), wider only where needed.
class ChartChannel
{
public:
    static constexpr int BlockBits = 16;
    static constexpr qsizetype BlockSize = qsizetype(1) << BlockBits;

    /// Summary levels, coarsest first: level L covers runs of 2^SummaryBits[L]
    /// points starting at multiples of that size.
    static constexpr int SummaryLevels = 4;
    static constexpr std::array<int, SummaryLevels> SummaryBits{BlockBits, 12, 9, 6};

    explicit ChartChannel(QString title = {});
    ChartChannel(ChartChannel &&) noexcept = default;
    ChartChannel &operator=(ChartChannel &&) noexcept = default;

    const QString &title() const { return m_title; }

    qsizetype count() const { return m_count; }
    double x(qsizetype i) const { return m_blocks[i >> BlockBits]->xAt(std::size_t(i & (BlockSize - 1))); }
    double y(qsizetype i) const { return m_blocks[i >> BlockBits]->y[i & (BlockSize - 1)]; }
    /// Y of the point i and, contiguous after it, of the rest of its block.
    const double *yFrom(qsizetype i) const { return &m_blocks[i >> BlockBits]->y[i & (BlockSize - 1)]; }
    PointMark mark(qsizetype i) const;
    bool isGap(qsizetype i) const { return !m_marks.empty() && mark(i) != PointMark::None; }
    bool hasMarks() const { return !m_marks.empty(); }
    /// Whether the X of the points of i's block run x0, x0 + 1, ... (live
    /// samples): X then grows by one with the index.
    bool xFollowsIndex(qsizetype i) const { return !m_blocks[std::size_t(i >> BlockBits)]->storedX; }

    /// Copies the n points from index `first` on (all must exist) to x and y.
    void copyPoints(qsizetype first, qsizetype n, double *x, double *y) const;

    void append(double x, double y);
    /// Appends a point with its wall-clock time `ms` (ms since the epoch).
    /// Into an empty channel it starts the channel's time column; a point
    /// appended without a time to a channel that has one gets the time of
    /// the point before it.
    void appendTimed(double x, double y, qint64 ms);
    /// Whether every point has a wall-clock time.
    bool hasTimes() const { return m_timed; }
    /// The time of point i (all must exist); 0 in a channel without times.
    qint64 time(qsizetype i) const;
    /// The time at `x` for a channel whose X grow with the index (as live
    /// samples do): that of the point at `x`, or interpolated between its
    /// neighbours. False when the channel has no times or `x` lies outside
    /// its points.
    bool timeAtX(double x, qint64 &ms) const;
    /// Appends n points (x[i], y[i]) at once; the channel ends up exactly as
    /// after n calls of append(), but the summaries are built per run of
    /// points instead of per point. A block a bulk append starts has the
    /// memory for all its points backed at once.
    void appendRange(const double *x, const double *y, qsizetype n);
    /// Appends n points written straight into the channel's storage. `fill`
    /// is called as fill(double *x, double *y, qsizetype first, qsizetype
    /// count) for consecutive runs that together cover the n new points, in
    /// order; `first` is the channel index of the run's first point, and fill
    /// must write all `count` X and Y values. Each run becomes part of the
    /// channel (summaries included) as soon as fill returns; if fill throws,
    /// or memory runs out (std::bad_alloc) while a run is taken in, the
    /// points before stay and the rest is left out. (While a block stores no
    /// X, its runs' X go to a spare array the channel keeps, which the block
    /// takes over if they break its pattern.)
    template <typename Fill> void appendFilled(qsizetype n, Fill &&fill)
    {
        while (n > 0) {
            const Span span = openSpan(n);
            fill(span.x, span.y, m_count, span.count);
            closeSpan(span);
            n -= span.count;
        }
    }
    /// Appends (x, y) carrying `mark`: when memory runs out (std::bad_alloc)
    /// the channel is left as it was, never with the point but not its mark.
    void appendMarked(double x, double y, PointMark mark);
    /// Makes room for `points` more points, so that appending them allocates
    /// nothing (and cannot fail) whatever their X; throws std::bad_alloc when
    /// the memory is not there. Blocks made this way (X arrays included) stay
    /// with the channel until clear().
    void reserve(qsizetype points);
    /// Puts the null or empty mark on the last point (no-op on an empty channel).
    void markLast(PointMark mark);
    void clear();
    /// Removes every point but keeps the storage for a rebuild of about the
    /// same size (the smoothed trace is rebuilt this way on every pass).
    void clearKeepingStorage();

    /// Bytes held by this channel's points (blocks, X arrays, the spare X
    /// array, marks and the lists), for benchmarks and tests.
    std::size_t memoryBytes() const;

    /// For tests: the channel holds at most `blocks` blocks of BlockSize
    /// points; taking one more fails with std::bad_alloc, as when the memory
    /// has run out. Negative (the default): no limit.
    void setBlockLimit(qsizetype blocks) { m_blockLimit = blocks; }
    /// For tests: the same for the X arrays (those of blocks and the spare
    /// one); the block limit does not count them.
    void setXArrayLimit(qsizetype arrays) { m_xArrayLimit = arrays; }

    /// Grows with every change (append, mark, clear); never goes back, not
    /// even on clear().
    quint64 revision() const { return m_revision; }

    /// Smallest index >= `from` of a point that is not drawn: it carries a mark
    /// or a coordinate that is not finite. count() when there is none.
    qsizetype nextGap(qsizetype from) const;

    /// Extent of the points [first, first + 2^SummaryBits[level]); `first`
    /// must be a multiple of that size and the whole run must exist
    /// (first + size <= count()). The extent leaves out points with a
    /// non-finite coordinate but not marked ones (see nextGap()).
    ChartRange summary(int level, qsizetype first) const;

    /// Has the processor fetch what a walk reading the points [from, to) of
    /// one block through summary() and y() needs at the ends of that run:
    /// the Y of the points there and the finer summaries holding them.
    void prefetchRunEnds(qsizetype from, qsizetype to) const;

    /// Extent of all points appended since the last clear (marks ignored).
    const ChartRange &extent() const { return m_extent; }

private:
    static constexpr int CoarseBits = SummaryBits[1];
    static constexpr int MidBits = SummaryBits[2];
    static constexpr int FineBits = SummaryBits[3];
    static constexpr std::size_t FineMask = (std::size_t(1) << FineBits) - 1;
    static constexpr std::size_t MidMask = (std::size_t(1) << MidBits) - 1;
    static constexpr std::size_t CoarseMask = (std::size_t(1) << CoarseBits) - 1;
    static constexpr int TimeRunBits = 7;
    static constexpr std::size_t TimeRunMask = (std::size_t(1) << TimeRunBits) - 1;

    /// Extent inside one block; indexes are offsets within the block.
    struct BlockRange {
        double minX;
        double maxX;
        double minY;
        double maxY;
        std::uint32_t minYAt;
        std::uint32_t maxYAt;
    };

    using Coordinates = std::array<double, BlockSize>;

    /// Times of one block: the first time of each run of 2^TimeRunBits
    /// points, and per point its offset from that, `width` bytes wide (1, 2,
    /// 4 or 8; widened, once for the block, when an offset does not fit).
    struct BlockTimes {
        std::array<qint64, (BlockSize >> TimeRunBits)> runStart;
        std::unique_ptr<std::byte[]> offsets;
        int width = 0;

        qint64 at(std::size_t slot) const;
        void set(std::size_t slot, qint64 ms);
        void widen(int toWidth, std::size_t filled);
    };

    struct Block {
        Coordinates y;
        std::array<BlockRange, (BlockSize >> FineBits)> fine;
        std::array<BlockRange, (BlockSize >> MidBits)> mid;
        std::array<BlockRange, (BlockSize >> CoarseBits)> coarse;
        BlockRange whole;
        /// The X values while storedX; null or unused (kept for a rebuild)
        /// while the X of slot s is x0 + s.
        std::unique_ptr<Coordinates> x;
        std::unique_ptr<BlockTimes> times; // while the channel keeps times
        double x0 = 0;
        bool storedX = false;

        double xAt(std::size_t slot) const { return storedX ? (*x)[slot] : x0 + double(slot); }
    };

    /// Room for the next points in the block the channel ends in. X goes to
    /// the block's X array if it has one (used or kept), else to the same
    /// slots of the channel's spare one.
    struct Span {
        double *x;
        double *y;
        qsizetype count;
    };

    QString m_title;
    std::vector<std::unique_ptr<Block>> m_blocks;
    qsizetype m_count = 0;
    std::vector<std::pair<qsizetype, PointMark>> m_marks; // sorted by index
    std::vector<qsizetype> m_nonFinite; // sorted indexes of points with a NaN/inf coordinate
    ChartRange m_extent = EmptyRange();
    quint64 m_revision = 0;
    std::unique_ptr<Coordinates> m_spareX; // see appendFilled()
    qsizetype m_blockLimit = -1;           // see setBlockLimit()
    qsizetype m_xArrayLimit = -1;          // see setXArrayLimit()
    bool m_timed = false;                  // see hasTimes()
    qint64 m_lastTime = 0;                 // time of the last point while timed

    /// Gives the points [from, m_count) of the tail block the time of the
    /// last timed point (bulk appends carry no times).
    void fillTimes(qsizetype from);
    /// The times of the block, made when the channel keeps times.
    BlockTimes &blockTimes(Block &block);

    static const BlockRange EmptyBlockRange;
    static ChartRange EmptyRange();
    static void Include(BlockRange &r, double x, double y, std::uint32_t at);
    /// Takes the extent `part`, which follows `into`, into `into`; `first`:
    /// `into` starts with it.
    static void Merge(BlockRange &into, const BlockRange &part, bool first);

    /// The block holding point m_count, created if need be.
    Block &tailBlock();
    /// Adds an empty block at the end (std::bad_alloc past the block limit).
    void addBlock();
    /// A new X array (std::bad_alloc past the X array limit).
    std::unique_ptr<Coordinates> newXArray();
    /// X arrays held: those of the blocks and the spare one.
    qsizetype xArrayCount() const;
    static bool SameBits(double a, double b)
    {
        return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b);
    }
    /// Whether a block whose first X is `x` can leave X out: x0 + 0 must give
    /// back x itself (not so for -0); derived X are always finite.
    static bool CanDeriveX(double x) { return std::isfinite(x) && SameBits(x + 0.0, x); }
    /// Whether the X values x[0..count) of slots from `slot` on are x0 + slot.
    static bool FollowsX0(const Block &block, const double *x, std::size_t slot, qsizetype count);
    /// Makes the block store X from now on, its first `filled` points being
    /// x0 + slot. A block without an X array of its own takes over `spare`
    /// (the caller makes sure there is one).
    static void StoreX(Block &block, std::size_t filled, std::unique_ptr<Coordinates> &spare);
    /// Sets the X state of the block for its first point `x`: derived when
    /// it can be, else stored (in its own or the spare X array, which the
    /// caller makes sure is there).
    void startBlock(Block &block, double x);
    /// Makes room for `more` entries in m_nonFinite or m_marks beyond their size.
    template <typename List> static void ReserveMore(List &list, std::size_t more);
    /// Storage for up to `wanted` points after the last one, up to the end
    /// of its block.
    Span openSpan(qsizetype wanted);
    /// Takes the points written into the open span in: X pattern, summaries,
    /// extent, non-finite list, count and revision.
    void closeSpan(const Span &span);
    /// Adds the finished finest summary ending at `lastSlot` to the coarser ones.
    static void FinishFine(Block &block, std::size_t lastSlot);
    /// Takes the extent `part` of points of the block starting at channel
    /// index `base` into m_extent.
    void includeInExtent(const BlockRange &part, qsizetype base);
    /// Extent of the block's points [from, to) into `r`, with the comparisons
    /// Include() makes but without a branch per point. False when a
    /// coordinate is not finite (`r` is then of no use).
    static bool ExtentOfFiniteRun(const Block &block, std::size_t from, std::size_t to, BlockRange &r);
    template <bool StoredX>
    static bool ExtentOfFiniteRunOf(const Block &block, std::size_t from, std::size_t to, BlockRange &r);
};

/// The channels of one chart. Every change bumps revision(), which the
/// drawing side compares on its repaint timer.
class ChartData
{
public:
    explicit ChartData(const std::vector<QString> &titles);

    int channelCount() const { return int(m_channels.size()); }
    /// Adds an empty channel at the end; returns its index.
    int addChannel(const QString &title);
    /// Removes a channel; those after it move down by one.
    void removeChannel(int channel);
    void appendTimed(int channel, double x, double y, qint64 ms)
    {
        m_channels[std::size_t(channel)].appendTimed(x, y, ms);
    }
    ChartChannel &channel(int i) { return m_channels[std::size_t(i)]; }
    const ChartChannel &channel(int i) const { return m_channels[std::size_t(i)]; }

    void append(int channel, double x, double y) { m_channels[std::size_t(channel)].append(x, y); }
    void appendMarked(int channel, double x, double y, PointMark mark)
    {
        m_channels[std::size_t(channel)].appendMarked(x, y, mark);
    }
    void markLast(int channel, PointMark mark) { m_channels[std::size_t(channel)].markLast(mark); }
    void clearChannel(int channel) { m_channels[std::size_t(channel)].clear(); }
    void clearChannelKeepingStorage(int channel) { m_channels[std::size_t(channel)].clearKeepingStorage(); }
    void clearAll();

    /// Sum of the channels' revisions: changes whenever any channel changes,
    /// also when the change went straight through channel().
    quint64 revision() const;

private:
    std::vector<ChartChannel> m_channels;
    /// Revisions of removed channels, and one more per channel added or
    /// removed, so the sum never goes back.
    quint64 m_retired = 0;
};
