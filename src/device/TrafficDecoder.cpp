#include "device/TrafficDecoder.h"

#include <algorithm>

namespace
{
constexpr std::size_t QueryCheckAt = QueryFrameSize - 2;
constexpr std::size_t DataCheckAt = DataFrameSize - 2;
constexpr std::size_t ValueAt = 3;
constexpr char HexDigits[] = "0123456789ABCDEF";

const std::uint8_t *Bytes(const QByteArray &bytes)
{
    return reinterpret_cast<const std::uint8_t *>(bytes.constData());
}

/// A row of a whole frame of `size` bytes at `frame`.
TrafficRow FrameRow(const std::uint8_t *frame, std::size_t size, TrafficRow::Direction direction,
                    const TrafficStamp &stamp)
{
    TrafficRow row;
    row.stamp = stamp;
    row.direction = direction;
    row.kind = size == QueryFrameSize ? TrafficRow::Kind::Query : TrafficRow::Kind::Data;
    row.address = frame[1];
    row.command = frame[2];
    const std::size_t checkAt = size - 2;
    if (row.kind == TrafficRow::Kind::Data)
        row.value = DecodeValue(frame + ValueAt);
    row.checkOk = XorCheck(frame, checkAt) == frame[checkAt];
    row.endOk = frame[checkAt + 1] == FrameEnd;
    row.raw = QByteArray(reinterpret_cast<const char *>(frame), qsizetype(size));
    return row;
}

/// The 9 bytes at `frame` have the right check byte and end byte.
bool IsWholeReply(const std::uint8_t *frame)
{
    return XorCheck(frame, DataCheckAt) == frame[DataCheckAt] && frame[DataFrameSize - 1] == FrameEnd;
}

struct Follower {
    qsizetype offset = 0; ///< where a whole reply starts inside the faulty one; 0 for none
    bool wait = false;    ///< a reply may start inside it, but its bytes are not all here yet
};

/// Looks for a whole reply that starts inside the faulty 9 bytes at `frame`
/// (received bytes end at `end`). Unless `final`, a start whose reply is not
/// complete yet means waiting for more bytes.
Follower FindFollower(const std::uint8_t *frame, const std::uint8_t *end, bool final)
{
    for (std::size_t j = 1; j < DataFrameSize; ++j) {
        if (frame[j] != DataStart)
            continue;
        if (end - (frame + j) < qsizetype(DataFrameSize)) {
            if (!final)
                return {0, true};
            continue;
        }
        if (IsWholeReply(frame + j))
            return {qsizetype(j), false};
    }
    return {};
}

TrafficRow UnframedRow(QByteArray bytes, TrafficRow::Direction direction, const TrafficStamp &stamp)
{
    TrafficRow row;
    row.stamp = stamp;
    row.direction = direction;
    row.kind = TrafficRow::Kind::Unframed;
    row.raw = std::move(bytes);
    return row;
}
} // namespace

void TrafficDecoder::decodeWritten(const QByteArray &bytes, const TrafficStamp &stamp, TrafficRows &out)
{
    const auto size = std::size_t(bytes.size());
    const bool query = size == QueryFrameSize && std::uint8_t(bytes[0]) == QueryStart;
    const bool data = size == DataFrameSize && std::uint8_t(bytes[0]) == DataStart;
    if (query || data)
        out.push_back(FrameRow(Bytes(bytes), size, TrafficRow::Direction::Sent, stamp));
    else if (!bytes.isEmpty())
        out.push_back(UnframedRow(bytes, TrafficRow::Direction::Sent, stamp));
}

void TrafficDecoder::feedRead(const QByteArray &piece, const TrafficStamp &stamp, TrafficRows &out)
{
    if (piece.isEmpty())
        return;
    m_last = stamp;
    m_buffer.append(piece);
    cut(false, out);
}

void TrafficDecoder::cut(bool final, TrafficRows &out)
{
    qsizetype at = 0; // start of the bytes not yet in a row
    const qsizetype size = m_buffer.size();
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(m_buffer.constData());
    while (at < size) {
        const qsizetype start = m_buffer.indexOf(char(DataStart), at);
        if (start < 0) {
            addNoise(bytes + at, size - at, out);
            at = size;
            break;
        }
        if (start > at) {
            addNoise(bytes + at, start - at, out);
            at = start;
        }
        if (size - at < qsizetype(DataFrameSize))
            break; // the rest of this reply is still to come
        const std::uint8_t *frame = bytes + at;
        if (!IsWholeReply(frame)) {
            // Cut short by the next reply? Then what came before it is no frame.
            const Follower next = FindFollower(frame, bytes + size, final);
            if (next.wait)
                break;
            if (next.offset > 0) {
                addNoise(frame, next.offset, out);
                at += next.offset;
                continue;
            }
        }
        emitNoise(out);
        out.push_back(FrameRow(frame, DataFrameSize, TrafficRow::Direction::Received, m_last));
        at += qsizetype(DataFrameSize);
    }
    m_buffer.remove(0, at);
    // Noise shows at once, in its place among the frames written meanwhile.
    emitNoise(out);
}

void TrafficDecoder::addNoise(const std::uint8_t *bytes, qsizetype size, TrafficRows &out)
{
    while (size > 0) {
        const qsizetype room = UnframedRowLimit - m_noise.size();
        const qsizetype take = std::min(room, size);
        m_noise.append(reinterpret_cast<const char *>(bytes), take);
        bytes += take;
        size -= take;
        if (m_noise.size() >= UnframedRowLimit)
            emitNoise(out);
    }
}

void TrafficDecoder::emitNoise(TrafficRows &out)
{
    if (m_noise.isEmpty())
        return;
    out.push_back(UnframedRow(m_noise, TrafficRow::Direction::Received, m_last));
    m_noise.clear();
}

void TrafficDecoder::flushStale(qint64 nowSinceOpenMs, TrafficRows &out)
{
    if (pending() == 0)
        return;
    // A clock that went back means the port was opened again since.
    const qint64 idle = nowSinceOpenMs - m_last.sinceOpenMs;
    if (idle >= StaleAfterMs || idle < 0)
        flush(out);
}

void TrafficDecoder::flush(TrafficRows &out)
{
    cut(true, out);
    if (!m_buffer.isEmpty()) {
        addNoise(reinterpret_cast<const std::uint8_t *>(m_buffer.constData()), m_buffer.size(), out);
        m_buffer.clear();
    }
    emitNoise(out);
}

void TrafficDecoder::reset()
{
    m_buffer.clear();
    m_noise.clear();
    m_last = {};
}

QString CommandName(CommandCode command)
{
    struct Named {
        CommandCode code;
        const char *name;
    };
    static constexpr Named Singles[] = {
        {CmdReadAdCode, "CmdReadAdCode"},
        {CmdReadValue, "CmdReadValue"},
        {CmdDN, "CmdDN"},
        {CmdZerO, "CmdZerO"},
        {CmdPointCount, "CmdPointCount"},
        {CmdAutoSend, "CmdAutoSend"},
        {CmdStore, "CmdStore"},
        {CmdInputType, "CmdInputType"},
        {CmdOutputBoardType, "CmdOutputBoardType"},
        {CmdADCSpeed, "CmdADCSpeed"},
        {CmdAL1, "CmdAL1"},
        {CmdAH1, "CmdAH1"},
        {CmdAM1, "CmdAM1"},
        {CmdAL2, "CmdAL2"},
        {CmdAH2, "CmdAH2"},
        {CmdAM2, "CmdAM2"},
        {CmdControlCode, "CmdControlCode"},
        {CmdOutMode, "CmdOutMode"},
        {CmdStepON, "CmdStepON"},
        {CmdStepOFF, "CmdStepOFF"},
        {CmdFilterLevel, "CmdFilterLevel"},
        {CmdFilterBand, "CmdFilterBand"},
    };
    for (const Named &named : Singles) {
        if (named.code == command)
            return QString::fromLatin1(named.name);
    }
    const auto point = [](const char *name, int k) {
        return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(k);
    };
    if (command >= CmdAVP(1) && command <= CmdAVP(CalibrationPointCount))
        return point("CmdAVP", command - CmdAVP(1) + 1);
    if (command >= CmdPVP(1) && command <= CmdPVP(CalibrationPointCount))
        return point("CmdPVP", command - CmdPVP(1) + 1);
    if (command >= CmdOutDSP(1) && command <= CmdOutVAL(SpecialOutputPointCount)) {
        const int k = (command - CmdOutDSP(1)) / 2 + 1;
        return point(command == CmdOutDSP(k) ? "CmdOutDSP" : "CmdOutVAL", k);
    }
    return {};
}

QString HexBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    QString text(bytes.size() * 3 - 1, QLatin1Char(' '));
    QChar *out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = std::uint8_t(bytes[i]);
        out[i * 3] = QLatin1Char(HexDigits[byte >> 4]);
        out[i * 3 + 1] = QLatin1Char(HexDigits[byte & 0x0F]);
    }
    return text;
}
