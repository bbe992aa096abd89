#pragma once
// Cuts replies out of the received byte stream: a reply starts with "=", is 9
// bytes long and counts only when its check byte and its closing "#" are
// right. A 9-byte run that fails either is dropped and counted, and the
// search for the next reply goes on from the byte after its "=", so a lost or
// an extra byte costs one reply, not the framing from then on. Bytes before
// an "=" are dropped; a buffer that reaches the limit without yielding a
// reply is dropped whole.

#include <QByteArray>

#include <cstdint>
#include <functional>

class ReplyAssembler
{
public:
    static constexpr char StartMarker = '=';
    static constexpr qsizetype PacketSize = 9;
    static constexpr qsizetype BufferLimit = 1024;

    /// Called once per complete, whole reply with the 8 bytes that follow its "=".
    using PacketHandler = std::function<void(const std::uint8_t *packet)>;
    /// Called for each dropped 9-byte run (wrong check byte or no "#"), with its 9 bytes.
    using FaultHandler = std::function<void(const QByteArray &frame)>;

    void setPacketHandler(PacketHandler handler) { m_handler = std::move(handler); }
    void setFaultHandler(FaultHandler handler) { m_faultHandler = std::move(handler); }

    /// Re-applies the fixed framing (start "=", size 9). The framing never
    /// changes, so the buffer and the in-packet state are left as they are.
    void setFraming(char startMarker, qsizetype packetSize);

    /// Feeds one piece of received bytes; hands on every whole reply in order.
    void feed(const char *data, qsizetype size);
    void feed(const QByteArray &piece) { feed(piece.constData(), piece.size()); }

    qsizetype buffered() const { return m_buffer.size(); }
    bool inPacket() const { return m_inPacket; }
    /// 9-byte runs dropped because their check byte or "#" was wrong.
    quint64 droppedFrames() const { return m_dropped; }
    void resetDroppedFrames() { m_dropped = 0; }

private:
    QByteArray m_buffer;
    bool m_inPacket = false;
    quint64 m_dropped = 0;
    PacketHandler m_handler;
    FaultHandler m_faultHandler;
};
