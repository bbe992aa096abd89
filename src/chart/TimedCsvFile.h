#pragma once
// The time-stamped CSV file of a chart's channels: one row per X value (the
// round number of a watch), with the wall-clock time of the row in front, so
// that a spreadsheet shows the rows against the time of day.
//
// Layout: UTF-8 with a byte order mark, lines ending in CR LF, cells
// separated by commas. The header line is "time,epoch_ms,<column 1>,...":
// a column's header is "name (unit)" or "name"; a header cell holding a
// comma, a quote, a CR or an LF is put in quotes, its quotes doubled. Every
// other line is one row:
//   time      the row's wall-clock time in local time, yyyy-MM-dd HH:mm:ss.zzz
//   epoch_ms  the same instant in whole milliseconds since the epoch
//   ...       per column the Y of its channel's point at the row's X, or
//             empty when the channel has no point there
// The row's time is the earliest time among its points; both time cells are
// empty when none of them has a time. Numbers have "." as decimal point
// whatever the locale, at most 15 significant digits and no trailing zeros;
// NaN, infinities and marked points are written as empty cells.
//
// The command-line tool's watch writes the same layout without the byte
// order mark. An import takes either, with CR LF or LF line ends and with
// quoted cells anywhere.
//
// Error texts are the reason only (the window adds SaveDataErrorPrefix or
// LoadDataErrorPrefix); running out of memory ends the one export or import
// with a reason and never leaves these functions.

#include "chart/SampleDataFile.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

class ChartData;

/// One value column of the file: the chart channel it shows and its header
/// text ("name (unit)" or "name").
struct TimedCsvColumn {
    int channel = 0;
    QString header;
};

/// Most value columns a file may have (the two time columns not counted).
inline constexpr int TimedCsvMaxColumns = 4096;

/// Export. Writes one row per X value present in any of the columns'
/// channels (their union, ascending); with `xRange` = (first, last) only the
/// X values first <= X <= last (the visible range), else all of them. The X
/// values of each channel must ascend. Only the points the channels hold when
/// the export starts are written. Progress counts rows, every
/// SampleProgressRows rows and once more at the end; cancelled (also at the
/// final report) or failed, an existing file stays as it was (see
/// FileReplacement) and no new one is left. A read-only target, a directory,
/// a column naming a channel the chart lacks and more than TimedCsvMaxColumns
/// columns are refused.
SampleFileResult WriteTimedCsvFile(const ChartData &data, const QList<TimedCsvColumn> &columns,
                                   std::optional<std::pair<double, double>> xRange, const QString &path,
                                   const SampleProgress &progress, QString *error);

/// Import. Reads the regular file at path piece by piece and appends its
/// values: for every value column it first calls channelFor(header), which
/// returns the chart channel to append that column to (it may add the
/// channel to `data`), or -1 to leave the column out. Row r (0-based, blank
/// lines not counted) gives every non-empty cell of a kept column the point
/// X = r, Y = the cell, with the time epoch_ms (no time when that cell is
/// empty); the `time` cell is not read.
///
/// Fails with a reason naming the line on: a header not starting with
/// time,epoch_ms; more than TimedCsvMaxColumns value columns; a line longer
/// than SampleMaxLineBytes; an epoch_ms or value cell that is not a finite
/// number; a row with more cells than the header; a quote left open at the
/// end of the file. The rows before the failing one stay; a failing row adds
/// nothing. Progress counts bytes, every SampleProgressRows rows or
/// SampleProgressBytes bytes; cancelled, the rows read so far stay (the final
/// report cannot cancel any more). The file is read in pieces of
/// `chunkBytes` (tests make them small).
SampleFileResult ReadTimedCsvFile(ChartData &data, const QString &path,
                                  const std::function<int(const QString &header)> &channelFor,
                                  const SampleProgress &progress, QString *error,
                                  qsizetype chunkBytes = SampleReadChunkBytes);
