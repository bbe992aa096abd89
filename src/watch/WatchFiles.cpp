#include "watch/WatchUnit.h"

#include "chart/ChartWidget.h"
#include "chart/TimedCsvFile.h"
#include "ui_WatchUnit.h"
#include "widgets/FileProgress.h"
#include "widgets/Prompter.h"

#include <QDir>

// The watch window's files: the time-stamped CSV export of every module and
// computed channel, and its import back into the chart.

namespace
{
QString CsvFilter()
{
    return TfrmWatch::tr("CSV 文件 (*.csv)");
}
const QString CsvSuffix = QStringLiteral("csv");
} // namespace

void TfrmWatch::btnExportClick()
{
    QList<TimedCsvColumn> columns;
    for (int column = 0; column < ColumnCount(); ++column)
        columns << TimedCsvColumn{m_chartChannels[column], ColumnHeader(column)};
    // An imported file's traces beyond the watch's own go along.
    for (int channel = ChartWidget::ChannelCount; channel < chart()->channelCount(); ++channel)
        if (!m_chartChannels.contains(channel))
            columns << TimedCsvColumn{channel, chart()->traceName(channel)};
    bool any = false;
    for (const TimedCsvColumn &column : columns)
        any = any || chart()->count(column.channel) > 0;
    if (!any)
        return Tell(tr("没有可导出的数据。"));
    std::optional<std::pair<double, double>> range;
    if (m_ui->cbExportVisible->isChecked())
        range = std::make_pair(chart()->viewXMinimum(), chart()->viewXMaximum());
    const QString path = Prompts().saveFileName(this, CsvFilter(), CsvSuffix);
    if (path.isEmpty())
        return;
    // The samples stay as they are while the file is written: the watch
    // adds to the chart only through the event loop, which the progress
    // window keeps from user input, and appends never move points.
    QString error;
    SampleFileResult result;
    {
        FileProgress progress(this, tr("正在导出数据..."));
        result = WriteTimedCsvFile(chart()->data(), columns, range, path, progress.callback(), &error);
    }
    switch (result) {
    case SampleFileResult::Done:
        m_ui->StatusBar1->showMessage(tr("数据已导出到 %1").arg(QDir::toNativeSeparators(path)));
        if (!range && !m_watch.isRunning())
            m_journal.remove(); // every value is in the file
        return;
    case SampleFileResult::Cancelled:
        m_ui->StatusBar1->showMessage(tr("导出已取消，文件未写入。"));
        return;
    case SampleFileResult::Failed:
        Prompts().showError(this, tr("数据无法导出：%1").arg(error));
        return;
    }
}

void TfrmWatch::btnImportClick()
{
    if (m_watch.isRunning())
        return Tell(tr("正在监视，不能导入。请先停止监视。"));
    const QString path = Prompts().openFileName(this, CsvFilter(), CsvSuffix);
    if (path.isEmpty() || !MayDiscardData(tr("导入")))
        return;
    BuildColumns();
    m_journal.remove(); // the chart shows the file from now on
    // A column of the file that has the header of a watched module or
    // channel goes to its trace (and its row's limits); any other gets a trace of its own.
    QHash<QString, int> channelOfHeader;
    for (int column = 0; column < ColumnCount(); ++column)
        channelOfHeader.insert(ColumnHeader(column), m_chartChannels[column]);
    ChartWidget *plot = chart();
    plot->suspendRepaint();
    QString error;
    SampleFileResult result;
    {
        FileProgress progress(this, tr("正在导入数据..."));
        result = ReadTimedCsvFile(
            plot->data(), path,
            [&](const QString &header) {
                const auto known = channelOfHeader.constFind(header);
                if (known != channelOfHeader.cend()) {
                    const int channel = *known;
                    channelOfHeader.erase(known); // a second column of that header gets its own trace
                    return channel;
                }
                return plot->addTrace(header);
            },
            progress.callback(), &error);
    }
    m_imported = true;
    plot->fitAll();
    plot->resumeRepaint();
    RefreshView();
    switch (result) {
    case SampleFileResult::Done:
        m_ui->StatusBar1->showMessage(tr("已导入 %1").arg(QDir::toNativeSeparators(path)));
        return;
    case SampleFileResult::Cancelled:
        m_ui->StatusBar1->showMessage(tr("导入已取消，已读入的数据保留在图表中。"));
        return;
    case SampleFileResult::Failed:
        Prompts().showError(this, tr("数据无法导入：%1").arg(error));
        return;
    }
}
