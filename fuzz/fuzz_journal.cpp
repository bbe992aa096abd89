// The recording journal's reader on any bytes, and on intact blocks planted
// between such bytes.
//
// Input: byte 0 bit 0 chooses the mode. Raw mode: the rest is the file.
// Planted mode: the rest is read as a list of (garbage length g, g bytes of
// garbage, sample count c, decimal, channel (2 bytes), first X, c values of
// 4 bytes); every entry becomes garbage followed by an intact block written
// by the journal itself (channel 0 in the first layout, others naming their
// channel, now and then one above the range), and what is left of the input
// ends the file as garbage.
//
// Properties:
// - reading never crashes; it never reports more samples than the blocks it
//   visited hold, each block within the block size, and never more than the
//   file's bytes could hold; the good part ends with the last block read;
//   the lost samples never exceed what the damaged bytes could hold;
// - every block read is of a channel in the range; the per-channel summary
//   lists each channel once, in order, and adds up to the totals and to the
//   blocks visited;
// - every planted block of a channel in the range is found, with its
//   channel and samples, unless a block read from the garbage before it (a
//   sound one, CRC and all) covers its start.
#include "FuzzCheck.h"
#include "io/RecordingJournal.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace
{
constexpr std::uint8_t PlantedModeFlag = 0x01;
constexpr qint64 MinBlockBytes = 7; // magic and version, CRC
constexpr qint64 MinSampleBytes = 2;
constexpr int MaxPlantedSamples = 64;
constexpr int PlantedChannels = RecordingJournal::MaxChannel + 1 + 64; // a few beyond the range

struct Planted {
    qint64 offset = 0;
    qint64 end = 0;
    int channel = 0;
    qint64 firstX = 0;
    std::vector<qint32> values;
};

class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size) : m_p(data), m_end(data + size) {}
    bool atEnd() const { return m_p == m_end; }
    std::uint8_t byte() { return atEnd() ? 0 : *m_p++; }
    QByteArray bytes(std::size_t n)
    {
        n = std::min<std::size_t>(n, std::size_t(m_end - m_p));
        QByteArray out(reinterpret_cast<const char *>(m_p), qsizetype(n));
        m_p += n;
        return out;
    }
    template <typename T> T number()
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= std::uint64_t(byte()) << (8 * i);
        return T(v);
    }

private:
    const std::uint8_t *m_p;
    const std::uint8_t *m_end;
};

void CheckRead(const QByteArray &file, const std::vector<Planted> &planted)
{
    struct Seen {
        qint64 previousEnd;
        qint64 end;
        int channel;
        qint64 firstX;
        std::vector<qint32> values;
    };
    std::vector<Seen> seen;
    qint64 visitedSamples = 0;
    std::map<int, std::pair<qint64, qint64>> visitedByChannel; // blocks, samples
    qint64 previousEnd = 0;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(file.constData());
    const RecordingJournal::ReadResult result =
        RecordingJournal::Parse(bytes, file.size(), [&](const RecordingJournal::Block &block) {
            const qint64 count = qint64(block.values.size());
            FUZZ_CHECK(count >= 1 && count <= RecordingJournal::MaxBlockSamples, "block size out of bounds");
            FUZZ_CHECK(block.wallMs.size() == block.values.size(), "a time for every value");
            FUZZ_CHECK(block.endOffset > previousEnd && block.endOffset <= file.size(), "blocks in order");
            FUZZ_CHECK(block.channel >= 0 && block.channel <= RecordingJournal::MaxChannel,
                       "channel out of range");
            visitedSamples += count;
            ++visitedByChannel[block.channel].first;
            visitedByChannel[block.channel].second += count;
            seen.push_back({previousEnd, block.endOffset, block.channel, block.firstX, block.values});
            previousEnd = block.endOffset;
            return true;
        });
    FUZZ_CHECK(result.samples == visitedSamples, "more samples reported than the blocks hold");
    FUZZ_CHECK(result.blocks == qint64(seen.size()), "block count");
    FUZZ_CHECK(result.samples * MinSampleBytes + result.blocks * MinBlockBytes <= file.size(),
               "more samples than the bytes can hold");
    FUZZ_CHECK(result.damagedBytes >= 0 && result.damagedBytes <= file.size(), "damaged bytes out of bounds");
    FUZZ_CHECK(result.lostSamples >= 0 && result.lostSamples * MinSampleBytes <= result.damagedBytes,
               "more lost samples than the damaged bytes can hold");
    FUZZ_CHECK(result.validBytes == (seen.empty() ? 0 : seen.back().end),
               "good part ends with the last block");

    qint64 blocks = 0, samples = 0, lost = 0;
    int previousChannel = -1;
    for (const RecordingJournal::ChannelSummary &c : result.channels) {
        FUZZ_CHECK(c.channel > previousChannel && c.channel <= RecordingJournal::MaxChannel,
                   "channels once each, in order");
        previousChannel = c.channel;
        FUZZ_CHECK(c.lostSamples >= 0 && (c.blocks > 0 || c.lostSamples > 0),
                   "a channel with nothing to tell");
        const auto visited = visitedByChannel.find(c.channel);
        const std::pair<qint64, qint64> counted =
            visited == visitedByChannel.end() ? std::pair<qint64, qint64>() : visited->second;
        FUZZ_CHECK(c.blocks == counted.first && c.samples == counted.second,
                   "channel summary off its blocks");
        FUZZ_CHECK(result.channel(c.channel) == &c, "channel lookup");
        blocks += c.blocks;
        samples += c.samples;
        lost += c.lostSamples;
    }
    FUZZ_CHECK(blocks == result.blocks && samples == result.samples && lost == result.lostSamples,
               "channel summaries add up to the totals");

    for (const Planted &p : planted) {
        if (p.channel > RecordingJournal::MaxChannel)
            continue; // damage: never read (checked above)
        bool found = false;
        bool covered = false;
        for (const Seen &s : seen) {
            found = found || (s.end == p.end && s.channel == p.channel && s.firstX == p.firstX &&
                              s.values == p.values);
            covered = covered || (s.previousEnd <= p.offset && p.offset < s.end && s.end != p.end);
        }
        FUZZ_CHECK(found || covered, "an intact block was not found");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (!(data[0] & PlantedModeFlag)) {
        CheckRead(QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)), {});
        return 0;
    }
    Input input(data + 1, size - 1);
    QByteArray file;
    std::vector<Planted> planted;
    while (!input.atEnd()) {
        file += input.bytes(input.byte());
        Planted p;
        const int count = 1 + input.byte() % MaxPlantedSamples;
        const int decimal = qint8(input.byte());
        p.channel = int(input.number<std::uint16_t>() % PlantedChannels);
        p.firstX = input.number<std::int32_t>();
        std::vector<qint64> ms;
        for (int i = 0; i < count; ++i) {
            p.values.push_back(input.number<qint32>());
            ms.push_back(qint64(i) * 781);
        }
        p.offset = file.size();
        file += RecordingJournal::EncodeBlock(p.firstX, decimal, p.values, ms, p.channel);
        p.end = file.size();
        planted.push_back(std::move(p));
    }
    CheckRead(file, planted);
    return 0;
}
