#pragma once
// Turns the traffic of a device link into rows for a monitor: each frame the
// program writes, and the received byte stream cut into replies the way a
// module sends them ("=", address, command, value, check byte, "#"), with the
// check byte and the end byte verified. Bytes that belong to no reply (noise,
// a reply cut short) become rows of their own, so a line fault shows.
//
// The receive side is cut like the link's assembler cuts it (a reply starts
// at "=" and is 9 bytes long), with one difference: when a 9-byte run has a
// wrong check byte or end byte and a whole reply (right check byte and end)
// starts at an "=" inside it, the run is taken as a reply cut short by that
// one; its bytes before that "=" become an unframed row. Unframed bytes of
// one piece are one row (split at UnframedRowLimit). Pure code, Qt Core only.

#include "device/Protocol.h"

#include <QByteArray>
#include <QString>

#include <vector>

/// When a row's last byte went over the line.
struct TrafficStamp {
    qint64 sinceOpenMs = 0; ///< milliseconds since the port opened
    qint64 wallMs = 0;      ///< wall-clock time, milliseconds since the epoch (UTC)
};

struct TrafficRow {
    enum class Direction : std::uint8_t { Sent, Received };
    enum class Kind : std::uint8_t {
        Query,   ///< "?" frame, 5 bytes, no value
        Data,    ///< "=" frame, 9 bytes, with a value (a write, or any reply)
        Unframed ///< bytes that belong to no frame
    };

    TrafficStamp stamp;
    Direction direction = Direction::Received;
    Kind kind = Kind::Unframed;
    DeviceAddress address = 0;
    CommandCode command = 0;
    std::int32_t value = 0;
    bool checkOk = false; ///< the check byte is the XOR of the bytes before it
    bool endOk = false;   ///< the last byte is "#"
    QByteArray raw;

    bool isFrame() const { return kind != Kind::Unframed; }
    bool hasValue() const { return kind == Kind::Data; }
};

using TrafficRows = std::vector<TrafficRow>;

class TrafficDecoder
{
public:
    /// Received bytes that wait this long without completing a reply are
    /// shown as they are (a reply cut short with nothing after it).
    static constexpr qint64 StaleAfterMs = 500;
    /// The longest unframed row; longer runs of noise are split.
    static constexpr qsizetype UnframedRowLimit = 32;

    /// One write of the program: a whole query or data frame, or else
    /// unframed bytes.
    static void decodeWritten(const QByteArray &bytes, const TrafficStamp &stamp, TrafficRows &out);

    /// One piece of received bytes; appends the rows it completes.
    void feedRead(const QByteArray &piece, const TrafficStamp &stamp, TrafficRows &out);
    /// Received bytes still waiting for the rest of a reply, when the last of
    /// them arrived at least StaleAfterMs before `now`, become unframed rows.
    void flushStale(qint64 nowSinceOpenMs, TrafficRows &out);
    /// Every byte still waiting becomes an unframed row.
    void flush(TrafficRows &out);
    void reset();

    /// Received bytes not yet in any row.
    qsizetype pending() const { return m_buffer.size() + m_noise.size(); }

private:
    /// Cuts rows from the buffer; `final`: no more bytes are to come.
    void cut(bool final, TrafficRows &out);
    void addNoise(const std::uint8_t *bytes, qsizetype size, TrafficRows &out);
    void emitNoise(TrafficRows &out);

    QByteArray m_buffer; ///< begins with "=" when not empty, or holds no "=" at all
    QByteArray m_noise;  ///< unframed bytes of the piece being cut
    TrafficStamp m_last; ///< when the last received byte arrived
};

/// The name of a command code from the command table ("CmdReadValue",
/// "CmdAVP(3)"); empty for a code outside the table.
QString CommandName(CommandCode command);

/// Bytes as upper-case hex pairs separated by spaces ("3F 01 01 3F 23").
QString HexBytes(const QByteArray &bytes);
