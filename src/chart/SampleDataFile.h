#pragma once
// The sample-data text file: the chart's channels as X/Y column pairs, one
// point index per line. Export writes it; import reads it back, and also
// reads comma-separated files and files with one shared X column.
//
// Layout written: a header line with the cells "<title>(X)" and "<title>(Y)"
// for every channel, then one line per point index r with, per channel, the
// X and Y of point r (Y "Null" or "Empty" for marked points) or two empty
// cells. Cells are TAB-separated, every line ends with CR LF, numbers are in
// the shortest general form with 15 significant digits and the locale's
// decimal separator. Bytes are in the system's 8-bit encoding.
//
// Error texts are the underlying reason only; the window puts
// SaveDataErrorPrefix or LoadDataErrorPrefix in front when it shows them.
// Running out of memory (std::bad_alloc) is such a failure too: it ends the
// one export or import with a reason and never leaves these functions.

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>

#include <functional>

class ChartData;
class QIODevice;

/// Chart channels the sample-data functions work on.
struct SampleChannels {
    static constexpr int Samples = 0;  // "Channel 1": live and imported samples
    static constexpr int Smoothed = 1; // "Channel 2": the smoothed trace
    static constexpr int MeanLine = 2; // "Channel 3": mean lines of imports
};

inline constexpr char SaveDataErrorPrefix[] = "Error Saving Data - ";
inline constexpr char LoadDataErrorPrefix[] = "Error Loading Data - ";

/// Size of the pieces an import reads a file in. The reader holds one piece
/// (or one line, when a line is longer) at a time, whatever the file's size.
inline constexpr qsizetype SampleReadChunkBytes = qsizetype(1) << 20;

/// Longest line an import reads: far more than any sample file's line (a
/// few dozen cells of numbers). A longer line is an error at that line, found
/// after reading at most this much of it.
inline constexpr qsizetype SampleMaxLineBytes = qsizetype(1) << 20;

/// Progress of a long export or import: `done` of `total` (rows for an
/// export, bytes for an import). Called every SampleProgressRows rows (an
/// import also after every SampleProgressBytes bytes, however few lines they
/// hold) and once more at the end with done == total; the values never go
/// back. Returning false cancels the work.
using SampleProgress = std::function<bool(qint64 done, qint64 total)>;

/// How often the progress is reported, in rows, and for an import in bytes.
inline constexpr qint64 SampleProgressRows = 4096;
inline constexpr qint64 SampleProgressBytes = qint64(1) << 20;

enum class SampleFileResult { Done, Failed, Cancelled };

/// Writes all channels to a device that is open for writing. Returns false
/// with the device's error text when a write fails (the device may then hold
/// part of the data).
bool WriteSampleData(const ChartData &data, QIODevice &device, const QLocale &locale, QString *error);

/// The complete file contents for data.
QByteArray FormatSampleData(const ChartData &data, const QLocale &locale = QLocale());

/// Export. The new file is written in full and flushed to the disk before it
/// replaces path (see FileReplacement), so a failed export or a crash leaves
/// an existing file as it was. A read-only target is refused rather than
/// replaced.
bool WriteSampleDataFile(const ChartData &data, const QString &path, QString *error,
                         const QLocale &locale = QLocale());

/// Export with progress. Writes the rows the channels hold when it starts
/// (points appended meanwhile, while the progress callback runs, are left
/// out). Cancelled, also at the final report, it leaves an existing file as
/// it was and no new one.
SampleFileResult WriteSampleDataFile(const ChartData &data, const QString &path,
                                     const SampleProgress &progress, QString *error,
                                     const QLocale &locale = QLocale());

/// Appends the points held in a file's bytes to the channels (nothing is
/// removed first). On failure (an empty file, the unsupported compact
/// layout, a cell that is not a number) returns false with the reason; the
/// points appended before the failing cell stay.
bool ParseSampleData(ChartData &data, QByteArrayView bytes, const QLocale &locale, QString *error);

/// Reads a device open for reading in pieces of `chunkBytes` and appends
/// its points exactly as ParseSampleData does with all of its bytes.
bool ReadSampleData(ChartData &data, QIODevice &device, const QLocale &locale, QString *error,
                    qsizetype chunkBytes = SampleReadChunkBytes);

/// Import: reads the file at path piece by piece as ReadSampleData does.
/// Only a regular file is read; anything else at path (a directory, a FIFO,
/// a device) is refused with a reason naming it.
bool ReadSampleDataFile(ChartData &data, const QString &path, QString *error,
                        const QLocale &locale = QLocale(), qsizetype chunkBytes = SampleReadChunkBytes);

/// Import with progress (bytes of the file read so far). Cancelled, it
/// stops after the row last reported and keeps every point read before;
/// the final report cannot cancel any more.
SampleFileResult ReadSampleDataFile(ChartData &data, const QString &path, const SampleProgress &progress,
                                    QString *error, const QLocale &locale = QLocale(),
                                    qsizetype chunkBytes = SampleReadChunkBytes);

/// For tests: the buffers an import reads and gathers points in and the
/// buffer an export writes through may take at most `bytes`; a larger one
/// fails with std::bad_alloc, as when the memory has run out. Negative (the
/// default): no limit.
void SetSampleBufferLimit(qsizetype bytes);

/// The mean line of an import: with n points in the samples channel and m
/// the mean of their Y, appends (0, m) and (n, m) to the mean-line channel.
/// With no samples there is no mean, and without memory for the two points
/// no line: returns false with the reason and adds nothing.
bool AppendMeanLine(ChartData &data, QString *error);
