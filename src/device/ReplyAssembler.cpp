#include "device/ReplyAssembler.h"

#include "device/Protocol.h"

#include <array>
#include <cstring>

void ReplyAssembler::setFraming(char startMarker, qsizetype packetSize)
{
    // Only the one framing exists; asking for it again keeps what is buffered.
    Q_ASSERT(startMarker == StartMarker && packetSize == PacketSize);
    Q_UNUSED(startMarker);
    Q_UNUSED(packetSize);
}

void ReplyAssembler::feed(const char *data, qsizetype size)
{
    m_buffer.append(data, size);

    // Work with an offset and drop the consumed head once per piece: a piece
    // may carry hundreds of replies in automatic sending.
    qsizetype head = 0;
    for (;;) {
        if (!m_inPacket) {
            const qsizetype start = m_buffer.indexOf(StartMarker, head);
            if (start < 0)
                break; // bytes without a start marker stay until the limit drops them
            head = start;
            m_inPacket = true;
        }
        if (m_buffer.size() - head < PacketSize)
            break;
        std::array<std::uint8_t, PacketSize - 1> packet;
        std::memcpy(packet.data(), m_buffer.constData() + head + 1, packet.size());
        m_inPacket = false;
        if (!ReplyIsWhole(packet.data())) {
            // Noise or a reply with a lost byte: the next reply may start
            // anywhere after this "=".
            ++m_dropped;
            if (m_faultHandler)
                m_faultHandler(m_buffer.mid(head, PacketSize));
            head += 1;
            continue;
        }
        head += PacketSize;
        if (m_handler)
            m_handler(packet.data());
    }
    if (head > 0)
        m_buffer.remove(0, head);

    if (m_buffer.size() >= BufferLimit) {
        m_buffer.clear();
        m_inPacket = false;
    }
}
