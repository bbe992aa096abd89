#include "cli/SampleFormat.h"

#include "cli/CliCommon.h"
#include "io/MqttPublisher.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>

namespace
{
const QString LocalTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString JsonString(const QString &text)
{
    // A one-element array, compact: ["..."] with the string escaped as JSON wants.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}
} // namespace

void SampleFormat::AddOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("format"),
                      KelvarinCli::tr("Output format: text, csv or json (default text)."),
                      KelvarinCli::tr("format"), QStringLiteral("text")});
    parser.addOption(
        {QStringLiteral("decimals"),
         KelvarinCli::tr("Decimals of the value, 0..4 (default 1; the desktop program's settings "
                         "are not read)."),
         KelvarinCli::tr("count")});
    parser.addOption(
        {QStringLiteral("unit"),
         KelvarinCli::tr("Unit of the value (default \"kg\"; the desktop program's settings are not "
                         "read)."),
         KelvarinCli::tr("unit"), QStringLiteral("kg")});
}

SampleFormat SampleFormat::FromOptions(const QCommandLineParser &parser)
{
    SampleFormat format;
    const QString kind = parser.value(QStringLiteral("format"));
    if (kind == QLatin1String("text"))
        format.m_kind = Kind::Text;
    else if (kind == QLatin1String("csv"))
        format.m_kind = Kind::Csv;
    else if (kind == QLatin1String("json"))
        format.m_kind = Kind::Json;
    else
        ThrowBadArgument(KelvarinCli::tr("--format: \"%1\" is none of text, csv, json.").arg(kind));
    format.m_decimals =
        int(CliOptions::Integer(parser, QStringLiteral("decimals"), 0, MaxDecimals, DefaultDecimals));
    format.m_unit = parser.value(QStringLiteral("unit"));
    return format;
}

QString SampleFormat::header() const
{
    return m_kind == Kind::Csv ? QStringLiteral("time,epoch_ms,address,raw,value,unit") : QString();
}

QString SampleFormat::line(const Sample &sample) const
{
    const QString raw = sample.raw ? QString::number(*sample.raw) : QString();
    const QString value =
        sample.raw ? QString::fromLatin1(MqttPublisher::formatFixed(*sample.raw, m_decimals)) : QString();
    switch (m_kind) {
    case Kind::Text: {
        QString text =
            sample.time.toString(LocalTimeFormat) + QStringLiteral("  ") + QString::number(sample.address);
        if (!sample.raw)
            return text + QStringLiteral("  -  -");
        text += QStringLiteral("  ") + raw + QStringLiteral("  ") + value;
        return m_unit.isEmpty() ? text : text + QLatin1Char(' ') + m_unit;
    }
    case Kind::Csv:
        return QStringList{sample.time.toString(LocalTimeFormat),
                           QString::number(sample.time.toMSecsSinceEpoch()),
                           QString::number(sample.address),
                           raw,
                           value,
                           CsvField(m_unit)}
            .join(QLatin1Char(','));
    case Kind::Json:
        return QStringLiteral(
                   "{\"ts\":\"%1\",\"epoch_ms\":%2,\"address\":%3,\"raw\":%4,\"value\":%5,\"unit\":%6}")
            .arg(QString::fromLatin1(MqttPublisher::formatTimestamp(sample.time)))
            .arg(sample.time.toMSecsSinceEpoch())
            .arg(sample.address)
            .arg(sample.raw ? raw : QStringLiteral("null"), sample.raw ? value : QStringLiteral("null"),
                 JsonString(m_unit));
    }
    return {};
}
