#include "FrameReader.h"

#include <algorithm>

namespace
{

constexpr std::size_t AddressOffset = 1;
constexpr std::size_t CommandOffset = 2;
constexpr std::size_t ValueOffset = 3;

std::size_t FrameSizeFor(std::uint8_t startByte)
{
    return startByte == QueryStart ? QueryFrameSize : DataFrameSize;
}

bool IsStartByte(std::uint8_t byte)
{
    return byte == QueryStart || byte == DataStart;
}

} // namespace

void FrameReader::append(const std::uint8_t *bytes, std::size_t count)
{
    // Compact once the consumed head outweighs what is left.
    if (m_head > 0 && m_head >= m_buffer.size() / 2) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_head));
        m_head = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
}

void FrameReader::consume(std::size_t count)
{
    m_head += count;
    if (m_head >= m_buffer.size()) {
        m_buffer.clear();
        m_head = 0;
    }
}

void FrameReader::skipToStartByte()
{
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_head);
    const auto start = std::find_if(begin, m_buffer.end(), IsStartByte);
    consume(static_cast<std::size_t>(start - begin));
}

bool FrameReader::hasPartialFrame() const
{
    return buffered() > 0 && IsStartByte(m_buffer[m_head]) && buffered() < FrameSizeFor(m_buffer[m_head]);
}

std::vector<std::uint8_t> FrameReader::abandonPartialFrame()
{
    if (!hasPartialFrame())
        return {};
    std::vector<std::uint8_t> bytes(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_head), m_buffer.end());
    consume(1);
    return bytes;
}

std::optional<FrameReader::Item> FrameReader::next()
{
    skipToStartByte();
    if (buffered() == 0)
        return std::nullopt;
    const std::uint8_t *start = m_buffer.data() + m_head;
    const std::size_t size = FrameSizeFor(start[0]);
    if (buffered() < size)
        return std::nullopt;

    Item item;
    item.bytes.assign(start, start + size);
    item.valid = start[size - 2] == XorCheck(start, size - 2) && start[size - 1] == FrameEnd;
    if (!item.valid) {
        consume(1); // the frame may begin inside the rejected candidate
        return item;
    }
    item.frame.kind = start[0] == QueryStart ? FrameKind::Query : FrameKind::Data;
    item.frame.address = start[AddressOffset];
    item.frame.command = start[CommandOffset];
    if (item.frame.kind == FrameKind::Data)
        item.frame.value = DecodeValue(start + ValueOffset);
    consume(size);
    return item;
}
