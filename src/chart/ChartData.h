#pragma once
// Data store of the chart component: a fixed set of channels, each an
// append-only sequence of points (X, Y, mark). Drawing is separate
// (ChartWidget); the store never waits for it.

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

enum class PointMark : std::uint8_t { None = 0, Null = 1, Empty = 2 };

/// One channel. Points live in fixed-size blocks, so an append is O(1), never
/// moves existing points and allocates only once per block; memory per point
/// is the two doubles plus the block bookkeeping. Marks are rare (they come
/// only from imported files) and are kept in a sorted side list.
class ChartChannel
{
public:
    static constexpr int BlockBits = 16;
    static constexpr qsizetype BlockSize = qsizetype(1) << BlockBits;

    explicit ChartChannel(QString title = {});
    ChartChannel(ChartChannel &&) noexcept = default;
    ChartChannel &operator=(ChartChannel &&) noexcept = default;

    const QString &title() const { return m_title; }

    qsizetype count() const { return m_count; }
    double x(qsizetype i) const { return m_blocks[i >> BlockBits]->x[i & (BlockSize - 1)]; }
    double y(qsizetype i) const { return m_blocks[i >> BlockBits]->y[i & (BlockSize - 1)]; }
    PointMark mark(qsizetype i) const;
    bool isGap(qsizetype i) const { return !m_marks.empty() && mark(i) != PointMark::None; }
    bool hasMarks() const { return !m_marks.empty(); }

    void append(double x, double y);
    /// Puts the null or empty mark on the last point (no-op on an empty channel).
    void markLast(PointMark mark);
    void clear();

    /// Bytes held by this channel's points (blocks and marks), for benchmarks.
    std::size_t memoryBytes() const;

private:
    struct Block {
        std::array<double, BlockSize> x;
        std::array<double, BlockSize> y;
    };

    QString m_title;
    std::vector<std::unique_ptr<Block>> m_blocks;
    qsizetype m_count = 0;
    std::vector<std::pair<qsizetype, PointMark>> m_marks; // sorted by index
};

/// The channels of one chart. Every change bumps revision(), which the
/// drawing side compares on its repaint timer.
class ChartData
{
public:
    explicit ChartData(const std::vector<QString> &titles);

    int channelCount() const { return int(m_channels.size()); }
    ChartChannel &channel(int i) { return m_channels[std::size_t(i)]; }
    const ChartChannel &channel(int i) const { return m_channels[std::size_t(i)]; }

    void append(int channel, double x, double y)
    {
        m_channels[std::size_t(channel)].append(x, y);
        ++m_revision;
    }
    void markLast(int channel, PointMark mark)
    {
        m_channels[std::size_t(channel)].markLast(mark);
        ++m_revision;
    }
    void clearChannel(int channel)
    {
        m_channels[std::size_t(channel)].clear();
        ++m_revision;
    }
    void clearAll();

    quint64 revision() const { return m_revision; }

private:
    std::vector<ChartChannel> m_channels;
    quint64 m_revision = 0;
};
