#include "chart/SampleDataFile.h"

#include "chart/ChartData.h"
#include "chart/SampleDataFilePrivate.h"
#include "io/FileReplacement.h"

#include <QDir>
#include <QIODevice>
#include <QFileInfo>

#include <cstring>
#include <new>

namespace SampleDataDetail
{
namespace
{
// See SetSampleBufferLimit.
qsizetype g_bufferLimit = -1;
} // namespace

qsizetype bufferLimit()
{
    return g_bufferLimit;
}

AsciiNumberStyle asciiNumberStyle(const QLocale &locale)
{
    AsciiNumberStyle style;
    const QString point = locale.decimalPoint();
    const QString exponent = locale.exponential();
    if (point.size() != 1 || exponent.size() != 1 || locale.negativeSign() != QLatin1String("-") ||
        locale.positiveSign() != QLatin1String("+") || locale.zeroDigit() != QLatin1String("0"))
        return style;
    const char16_t p = point.front().unicode();
    const char16_t e = exponent.front().unicode();
    if (p >= 0x80 || (e != u'e' && e != u'E'))
        return style;
    style.decimalPoint = char(p);
    style.exponent = char(e);
    // The separator must not be confusable with any other part of a number.
    style.usable = !isAsciiDigit(style.decimalPoint) && std::strchr("+-eE \t", style.decimalPoint) == nullptr;
    return style;
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool failWith(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool outOfMemory(QString *error)
{
    return failWith(error, QStringLiteral("Out of memory."));
}

SampleFileResult failed(QString *error, const QString &reason)
{
    failWith(error, reason);
    return SampleFileResult::Failed;
}

bool writeAll(QIODevice &device, const char *bytes, qsizetype size, QString *error)
{
    while (size > 0) {
        const qint64 written = device.write(bytes, size);
        if (written <= 0)
            return failWith(error, written < 0 ? device.errorString()
                                               : QStringLiteral("The device accepts no more data."));
        bytes += written;
        size -= written;
    }
    return true;
}

SampleFileResult writeReplacingFile(const QString &path, QString *error,
                                    const std::function<SampleFileResult(QIODevice &, QString *)> &write)
{
    const QFileInfo target(path);
    if (target.isDir())
        return failed(error,
                      QStringLiteral("Cannot create file \"%1\": it is a directory.").arg(nativePath(path)));
    // Renaming would replace a read-only file that could not be opened for writing.
    if (target.exists() && !target.isWritable())
        return failed(
            error, QStringLiteral("Cannot write file \"%1\": the file is read-only.").arg(nativePath(path)));

    // Written unbuffered (the writers have their own buffer), so the last
    // bytes cannot fail unnoticed, and flushed to the disk before the old
    // file is replaced. Leaving early, also by an exception, drops the new
    // contents.
    FileReplacement file(path);
    if (!file.open())
        return failed(
            error, QStringLiteral("Cannot create file \"%1\": %2").arg(nativePath(path), file.errorString()));
    QString reason;
    const SampleFileResult written = write(file.device(), &reason);
    if (written != SampleFileResult::Done) {
        file.cancel();
        if (written == SampleFileResult::Failed)
            return failed(error, QStringLiteral("Cannot write file \"%1\": %2").arg(nativePath(path), reason));
        return written;
    }
    if (!file.commit())
        return failed(
            error, QStringLiteral("Cannot save file \"%1\": %2").arg(nativePath(path), file.errorString()));
    return SampleFileResult::Done;
}

} // namespace SampleDataDetail

using namespace SampleDataDetail;

void SetSampleBufferLimit(qsizetype bytes)
{
    g_bufferLimit = bytes;
}

bool AppendMeanLine(ChartData &data, QString *error)
{
    if (data.channelCount() <= SampleChannels::MeanLine)
        return failWith(error, QStringLiteral("The chart has no channel for the mean line."));
    const ChartChannel &samples = data.channel(SampleChannels::Samples);
    const qsizetype n = samples.count();
    if (n == 0)
        return failWith(error, QStringLiteral("There are no samples to average, so no mean line is drawn."));
    double sum = 0.0;
    for (qsizetype i = 0; i < n; ++i)
        sum += samples.y(i);
    const double mean = sum / double(n);
    // Room for both ends first: the line is drawn whole or not at all.
    ChartChannel &line = data.channel(SampleChannels::MeanLine);
    try {
        line.reserve(2);
    } catch (const std::bad_alloc &) {
        return outOfMemory(error);
    }
    line.append(0.0, mean);
    line.append(double(n), mean);
    return true;
}
