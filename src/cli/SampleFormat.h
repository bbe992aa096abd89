#pragma once
// Measured values as the tool prints them, in three formats:
//   text  2026-12-10 08:00:00.123  1  2468  246.8 kg
//   csv   time,epoch_ms,address,raw,value,unit  (a header line first)
//   json
//   {"ts":"2026-12-10T08:00:00.123+08:00","epoch_ms":...,"address":1,"raw":2468,"value":246.8,"unit":"kg"}
//         (one object per line)
// The value is the raw value divided by 10^decimals, written with exactly
// that many decimals and "." as separator, computed from the integer. The
// time is local; csv gives epoch milliseconds beside it for other tools. A
// module that answered without a value (a bus scan) has "-" (text) or empty
// fields (csv) or null (json) for raw and value.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

class QCommandLineParser;

struct Sample {
    QDateTime time;
    int address = 0;
    std::optional<std::int32_t> raw;
};

class SampleFormat
{
public:
    enum class Kind { Text, Csv, Json };
    static constexpr int DefaultDecimals = 1;
    static constexpr int MaxDecimals = 4;

    /// Declares --format, --decimals and --unit.
    static void AddOptions(QCommandLineParser &parser);
    /// From the options; CliError(BadArguments) on a wrong one.
    static SampleFormat FromOptions(const QCommandLineParser &parser);

    /// The line before the first sample (csv only), else empty.
    QString header() const;
    QString line(const Sample &sample) const;

    int decimals() const { return m_decimals; }
    QString unit() const { return m_unit; }

private:
    Kind m_kind = Kind::Text;
    int m_decimals = DefaultDecimals;
    QString m_unit = QStringLiteral("kg");
};
