#pragma once
// The recording journal's block layout (see RecordingJournal.h), shared by
// the writer and the reader; only the journal's sources include this.

#include <QByteArray>

#include <cstdint>

namespace JournalFormat
{
/// Appends one whole block: header, the encoded samples, CRC. Channel 0 is
/// written in the first version's layout, any other one names its channel.
void AppendBlock(QByteArray &out, int channel, qint64 firstX, int decimal, qint64 firstMs, qint64 count,
                 const std::uint8_t *payload, qsizetype payloadBytes);
} // namespace JournalFormat
