// The reply assembler fed a byte stream cut into arbitrary pieces.
//
// Input: byte 0 holds the number of cut lengths (low 3 bits) and whether the
// framing is re-applied between pieces (bit 7); then come the cut lengths
// (used in turn, 0 meaning an empty piece), then the stream itself. With no
// cut lengths the stream is fed one byte at a time.
//
// Properties:
// - the replies handed on are exactly those of a reference model written from
//   the framing rule: at each "=" the 8 bytes that follow form a reply when
//   its check byte and "#" are right, and the scan resumes behind them;
//   otherwise only the "=" is dropped (and counted) and the scan resumes after
//   it; bytes before an "=" are dropped;
// - after every piece the buffered size and the in-packet state are the
//   model's, which drops a buffer that reaches the limit without a reply;
// - the buffer is below the limit after every piece, and holds at most a
//   partial reply while inside one;
// - the replies do not depend on how the stream is cut: fed whole, the same
//   replies come out.
#include "FuzzCheck.h"
#include "device/Protocol.h"
#include "device/ReplyAssembler.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace
{

using Packet = std::array<std::uint8_t, ReplyAssembler::PacketSize - 1>;

constexpr std::uint8_t CutCountMask = 0x07;
constexpr std::uint8_t ReframeFlag = 0x80;

// The framing rule, byte by byte, with the limit applied at the end of each
// piece: nine bytes from an "=" are a reply when their check byte and "#" are
// right; otherwise only the "=" is dropped and the search goes on after it.
class ReferenceModel
{
public:
    void piece(const std::uint8_t *data, std::size_t size)
    {
        std::deque<std::uint8_t> input(data, data + size);
        while (!input.empty()) {
            const std::uint8_t byte = input.front();
            input.pop_front();
            if (m_inPacket) {
                m_partial.push_back(byte);
                if (m_partial.size() == std::size_t(ReplyAssembler::PacketSize)) {
                    Packet packet;
                    std::memcpy(packet.data(), m_partial.data() + 1, packet.size());
                    m_inPacket = false;
                    if (ReplyIsWhole(packet.data())) {
                        m_replies.push_back(packet);
                    } else {
                        input.insert(input.begin(), m_partial.begin() + 1, m_partial.end());
                        ++m_faulty;
                    }
                    m_partial.clear();
                }
            } else if (byte == std::uint8_t('=')) {
                m_inPacket = true;
                m_partial.assign(1, byte);
                m_dropped = 0;
            } else {
                ++m_dropped; // waits for the next "=" or the limit
            }
        }
        if (buffered() >= std::size_t(ReplyAssembler::BufferLimit)) {
            m_dropped = 0;
            m_partial.clear();
            m_inPacket = false;
        }
    }

    std::size_t faulty() const { return m_faulty; }
    std::size_t buffered() const { return m_inPacket ? m_partial.size() : m_dropped; }
    bool inPacket() const { return m_inPacket; }
    const std::vector<Packet> &replies() const { return m_replies; }

private:
    bool m_inPacket = false;
    std::vector<std::uint8_t> m_partial;
    std::size_t m_dropped = 0;
    std::size_t m_faulty = 0;
    std::vector<Packet> m_replies;
};

void collectInto(ReplyAssembler &assembler, std::vector<Packet> &replies)
{
    assembler.setPacketHandler([&replies](const std::uint8_t *p) {
        Packet packet;
        std::memcpy(packet.data(), p, packet.size());
        replies.push_back(packet);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t cutCount = data[0] & CutCountMask;
    const bool reframe = (data[0] & ReframeFlag) != 0;
    if (size < 1 + cutCount)
        return 0;
    const std::uint8_t *cuts = data + 1;
    const std::uint8_t *stream = cuts + cutCount;
    const std::size_t streamSize = size - 1 - cutCount;

    std::vector<Packet> cutReplies;
    ReplyAssembler cutAssembler;
    collectInto(cutAssembler, cutReplies);
    ReferenceModel model;

    std::size_t at = 0;
    for (std::size_t piece = 0; at < streamSize; ++piece) {
        const std::size_t wanted = cutCount == 0 ? 1 : cuts[piece % cutCount];
        const std::size_t length = wanted < streamSize - at ? wanted : streamSize - at;
        cutAssembler.feed(reinterpret_cast<const char *>(stream + at), qsizetype(length));
        model.piece(stream + at, length);
        at += length;

        FUZZ_CHECK(cutReplies == model.replies(), "replies differ from the framing rule");
        FUZZ_CHECK(cutAssembler.droppedFrames() == model.faulty(), "faulty frames counted differently");
        FUZZ_CHECK(std::size_t(cutAssembler.buffered()) == model.buffered(),
                   "buffered size differs from the framing rule");
        FUZZ_CHECK(cutAssembler.inPacket() == model.inPacket(),
                   "in-packet state differs from the framing rule");
        FUZZ_CHECK(cutAssembler.buffered() < ReplyAssembler::BufferLimit, "buffer reached its limit");
        FUZZ_CHECK(!cutAssembler.inPacket() || cutAssembler.buffered() < ReplyAssembler::PacketSize,
                   "more than a partial reply buffered inside a reply");
        if (reframe)
            cutAssembler.setFraming(ReplyAssembler::StartMarker, ReplyAssembler::PacketSize);
        // Safety valve: all-zero cut lengths would never advance.
        if (length == 0 && piece > streamSize + cutCount)
            break;
    }
    if (at < streamSize) {
        cutAssembler.feed(reinterpret_cast<const char *>(stream + at), qsizetype(streamSize - at));
        model.piece(stream + at, streamSize - at);
        FUZZ_CHECK(cutReplies == model.replies(), "replies differ from the framing rule");
        FUZZ_CHECK(cutAssembler.droppedFrames() == model.faulty(), "faulty frames counted differently");
    }

    std::vector<Packet> wholeReplies;
    ReplyAssembler wholeAssembler;
    collectInto(wholeAssembler, wholeReplies);
    wholeAssembler.feed(reinterpret_cast<const char *>(stream), qsizetype(streamSize));
    ReferenceModel wholeModel;
    wholeModel.piece(stream, streamSize);
    FUZZ_CHECK(wholeReplies == cutReplies, "replies depend on how the stream is cut");
    FUZZ_CHECK(std::size_t(wholeAssembler.buffered()) == wholeModel.buffered(),
               "buffered size differs from the framing rule");
    FUZZ_CHECK(wholeAssembler.buffered() < ReplyAssembler::BufferLimit, "buffer reached its limit");
    return 0;
}
