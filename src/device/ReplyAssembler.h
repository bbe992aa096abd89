#pragma once
// Cuts replies out of the received byte stream: a reply starts with "=" and is
// 9 bytes long; there is no end marker and nothing is checked. Bytes before an
// "=" are dropped; a buffer that reaches the limit without yielding a reply is
// dropped whole.

#include <QByteArray>

#include <cstdint>
#include <functional>

class ReplyAssembler
{
public:
    static constexpr char StartMarker = '=';
    static constexpr qsizetype PacketSize = 9;
    static constexpr qsizetype BufferLimit = 1024;

    /// Called once per complete reply with the 8 bytes that follow its "=".
    using PacketHandler = std::function<void(const std::uint8_t *packet)>;

    void setPacketHandler(PacketHandler handler) { m_handler = std::move(handler); }

    /// Re-applies the fixed framing (start "=", size 9). The framing never
    /// changes, so the buffer and the in-packet state are left as they are.
    void setFraming(char startMarker, qsizetype packetSize);

    /// Feeds one piece of received bytes; hands on every complete reply in order.
    void feed(const char *data, qsizetype size);
    void feed(const QByteArray &piece) { feed(piece.constData(), piece.size()); }

    qsizetype buffered() const { return m_buffer.size(); }
    bool inPacket() const { return m_inPacket; }

private:
    QByteArray m_buffer;
    bool m_inPacket = false;
    PacketHandler m_handler;
};
