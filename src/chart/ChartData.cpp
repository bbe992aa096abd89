#include "chart/ChartData.h"

#include <algorithm>

ChartChannel::ChartChannel(QString title) : m_title(std::move(title)) {}

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
        m_blocks.push_back(std::make_unique<Block>());
    Block &block = *m_blocks[std::size_t(m_count >> BlockBits)];
    block.x[std::size_t(slot)] = x;
    block.y[std::size_t(slot)] = y;
    ++m_count;
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
}

void ChartChannel::clear()
{
    m_blocks.clear();
    m_marks.clear();
    m_count = 0;
}

std::size_t ChartChannel::memoryBytes() const
{
    return m_blocks.size() * sizeof(Block) + m_blocks.capacity() * sizeof(void *)
           + m_marks.capacity() * sizeof(m_marks[0]);
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
    ++m_revision;
}
