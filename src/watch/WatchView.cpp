#include "watch/WatchUnit.h"

#include "chart/ChartWidget.h"
#include "ui_WatchUnit.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QDateTime>
#include <QTimer>
#include <QDir>
#include <QLabel>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdlib>

// What the watch window shows: the table, the colours of rows and traces,
// the status bar, and the alarms with their acknowledgement.

namespace
{
const QColor AlarmRowColour(255, 205, 205);
const QColor AlarmTraceColour(230, 0, 0);
const QColor StaleTextColour(140, 140, 140);
constexpr int AlarmTraceWidth = ChartWidget::TraceLineWidth + 2;
constexpr int RateEveryMs = 1000;
constexpr int AlarmRefreshMs = 100;
constexpr int MinChartRepaintMs = ChartWidget::DefaultRepaintIntervalMs;
constexpr int MaxChartRepaintMs = 200;
constexpr int AgeDecimals = 1;

/// Fixed-point with the locale's decimal separator and no grouping, as the main window shows values.
QString Number(double value, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

QString StateName(WatchState state)
{
    switch (state) {
    case WatchState::Waiting:
        return TfrmWatch::tr("等待应答");
    case WatchState::Ok:
        return TfrmWatch::tr("正常");
    case WatchState::Late:
        return TfrmWatch::tr("未应答");
    case WatchState::Lost:
        return TfrmWatch::tr("失去联系");
    }
    return {};
}

QString AlarmStateName(LimitAlarm::State state)
{
    switch (state) {
    case LimitAlarm::State::Normal:
        return {};
    case LimitAlarm::State::Active:
        return TfrmWatch::tr("超限报警");
    case LimitAlarm::State::Acknowledged:
        return TfrmWatch::tr("超限（已确认）");
    case LimitAlarm::State::Held:
        return TfrmWatch::tr("已回到限内，待确认");
    }
    return {};
}
} // namespace

void TfrmWatch::CheckLimits(int column, double value, qint64 timeMs)
{
    const QString name = ColumnName(column);
    if (!m_alarms.check(name, value, timeMs))
        return;
    const AlarmRecord &alarm = m_alarms.records().back();
    const int decimals = ColumnDecimals(column);
    const QString unit = ColumnUnit(column);
    const QString text = alarm.limit == AlarmRecord::Limit::High
                             ? tr("报警：%1 = %2%3，高于上限 %4%3")
                             : tr("报警：%1 = %2%3，低于下限 %4%3");
    const QString message = text.arg(name, Number(value, decimals), unit, Number(alarm.limitValue, decimals));
    m_ui->StatusBar1->showMessage(message);
    if (m_ui->cbBeep->isChecked())
        QApplication::beep();
    emit alarmChanged(name, message, true, timeMs);
    // Shown at once, not with the next refresh: an alarm is what the operator
    // must see. Once for all the alarms of a round, and at most every
    // AlarmRefreshMs however many alarms come.
    if (!m_refreshDue) {
        m_refreshDue = true;
        const qint64 since = m_lastRefresh.isValid() ? m_lastRefresh.elapsed() : AlarmRefreshMs;
        QTimer::singleShot(int(std::max<qint64>(0, AlarmRefreshMs - since)), this, &TfrmWatch::RefreshView);
    }
}

void TfrmWatch::btnAcknowledgeClick()
{
    m_alarms.acknowledgeAll();
    m_ui->StatusBar1->clearMessage();
    RefreshView();
}

void TfrmWatch::btnAlarmsClick()
{
    if (m_alarms.records().empty())
        return Tell(tr("报警列表是空的。"));
    const QString path = Prompts().saveFileName(this, tr("CSV 文件 (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    QString error;
    if (!m_alarms.SaveCsv(path, error))
        return Prompts().showError(this, tr("报警列表无法保存：%1").arg(error));
    m_ui->StatusBar1->showMessage(tr("报警列表已保存到 %1").arg(QDir::toNativeSeparators(path)));
}

void TfrmWatch::btnClearClick()
{
    if (!MayDiscardData(tr("清除数据")))
        return;
    BuildColumns();
    m_journal.remove();
    m_config.ApplyTo(m_watch);
    m_alarms.clearRecords();
    RefreshView();
}

bool TfrmWatch::MayDiscardData(const QString &what)
{
    bool any = false;
    for (int channel : m_chartChannels)
        any = any || chart()->count(channel) > 0;
    if (!any)
        return true;
    return Prompts().askYesNo(this, tr("提示"),
                              tr("%1会清除图表中监视的数据。尚未导出的数据将丢失。\n\n继续吗？").arg(what));
}

void TfrmWatch::Tell(const QString &text)
{
    m_ui->StatusBar1->showMessage(text);
    Prompts().inform(this, text);
}

bool TfrmWatch::VisibleTimeRange(qint64 &t0, qint64 &t1) const
{
    const double xMin = chart()->viewXMinimum();
    const double xMax = chart()->viewXMaximum();
    bool found = false;
    for (int channel : m_chartChannels) {
        const ChartChannel &points = chart()->data().channel(channel);
        if (!points.hasTimes() || points.count() == 0)
            continue;
        // X grows with the index: the first point at or after xMin, the last at or before xMax.
        qsizetype lo = 0, hi = points.count();
        while (lo < hi) {
            const qsizetype mid = lo + (hi - lo) / 2;
            (points.x(mid) < xMin ? lo = mid + 1 : hi = mid);
        }
        qsizetype first = lo;
        lo = first, hi = points.count();
        while (lo < hi) {
            const qsizetype mid = lo + (hi - lo) / 2;
            (points.x(mid) <= xMax ? lo = mid + 1 : hi = mid);
        }
        const qsizetype last = lo - 1;
        if (last < first)
            continue;
        t0 = found ? std::min(t0, points.time(first)) : points.time(first);
        t1 = found ? std::max(t1, points.time(last)) : points.time(last);
        found = true;
    }
    return found;
}

void TfrmWatch::RefreshView()
{
    m_refreshDue = false;
    m_lastRefresh.start();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 t0 = 0, t1 = -1;
    const bool visible = m_ui->cbVisibleRange->isChecked();
    if (visible && !VisibleTimeRange(t0, t1))
        t1 = t0 - 1; // nothing in view
    QStringList inAlarm;
    for (int row = 0; row < ColumnCount(); ++row) {
        FillRow(row, now, visible, t0, t1);
        const LimitAlarm::State state = m_alarms.state(ColumnName(row));
        if (state != LimitAlarm::State::Normal)
            inAlarm << tr("%1（%2）").arg(ColumnName(row), AlarmStateName(state));
        const bool red = state != LimitAlarm::State::Normal;
        if (red != m_redTraces[std::size_t(row)]) {
            m_redTraces[std::size_t(row)] = red;
            chart()->setTraceColour(m_chartChannels[row],
                                    red ? AlarmTraceColour : ChartWidget::PalettePen(row).color());
            chart()->setTraceWidth(m_chartChannels[row], red ? AlarmTraceWidth : ChartWidget::TraceLineWidth);
            if (!red)
                emit alarmChanged(ColumnName(row), QString(), false, now);
        }
    }
    m_sttAlarm->setText(inAlarm.isEmpty() ? QString() : tr("报警：%1").arg(inAlarm.join(tr("、"))));
    m_ui->btnAcknowledge->setEnabled(!inAlarm.isEmpty());

    if (m_watch.isRunning() && now - m_rateSinceMs >= RateEveryMs) {
        m_roundsPerSecond = double(qint64(m_watch.rounds()) - m_roundsAtRate) * 1000.0 / double(now - m_rateSinceMs);
        m_roundsAtRate = qint64(m_watch.rounds());
        m_rateSinceMs = now;
    }
    if (m_watch.isRunning())
        PaceChart();
    if (m_watch.isRunning())
        m_sttRounds->setText(tr("第 %1 轮，每秒 %2 轮").arg(m_watch.rounds()).arg(Number(m_roundsPerSecond, 1)));
    else if (m_imported)
        m_sttRounds->setText(tr("显示导入的文件"));
    else
        m_sttRounds->setText(tr("监视未运行"));
}

void TfrmWatch::PaceChart()
{
    // The live chart moves by LiveSpan rounds a plot width: it is drawn again
    // when it has moved by about a pixel, at most as often as any chart.
    const double pixelsPerSecond =
        m_roundsPerSecond * double(std::max(chart()->plotView()->width(), 1)) / ChartWidget::LiveSpan;
    const int ms = pixelsPerSecond > 0 ? int(std::clamp(1000.0 / pixelsPerSecond, double(MinChartRepaintMs),
                                                        double(MaxChartRepaintMs)))
                                       : ChartWidget::DefaultRepaintIntervalMs;
    if (std::abs(ms - m_chartRepaintMs) * 10 > m_chartRepaintMs) { // a tenth off: not every small change
        m_chartRepaintMs = ms;
        chart()->setRepaintInterval(ms);
    }
}

void TfrmWatch::FillRow(int row, qint64 now, bool visible, qint64 t0, qint64 t1)
{
    QTableWidget *table = m_ui->tblWatch;
    auto set = [table, row](int column, const QString &text) {
        QTableWidgetItem *item = table->item(row, column);
        if (item->text() != text)
            item->setText(text);
    };
    const int decimals = ColumnDecimals(row);
    const QString unit = ColumnUnit(row);
    const bool isModule = row < m_config.modules.size();
    const WatchStatistics *statistics = nullptr;
    bool hasValue = false, fresh = false;
    double value = 0;
    qint64 timeMs = 0;
    QString state;
    if (isModule) {
        const WatchModuleStatus &status = m_watch.status(row);
        hasValue = status.hasValue;
        value = status.value;
        timeMs = status.timeMs;
        fresh = status.state == WatchState::Ok;
        state = StateName(status.state);
        set(ColAnswers, QString::number(status.answers));
        set(ColTimeouts, QString::number(status.timeouts));
        statistics = &m_watch.statistics(row);
    } else {
        const ComputedChannel &channel = m_channels[std::size_t(row - m_config.modules.size())];
        hasValue = channel.hasValue();
        value = channel.value();
        timeMs = channel.timeMs();
        fresh = !channel.isStale();
        state = hasValue && !fresh ? tr("过期") : (hasValue ? tr("正常") : tr("等待应答"));
        statistics = &channel.statistics();
    }
    const LimitAlarm::State alarm = m_alarms.state(ColumnName(row));
    if (alarm != LimitAlarm::State::Normal)
        state = AlarmStateName(alarm);
    set(ColValue, hasValue ? Number(value, decimals) + unit : QString());
    set(ColAge, hasValue ? Number(double(std::max<qint64>(now - timeMs, 0)) / 1000.0, AgeDecimals) : QString());
    set(ColState, state);
    const StatisticsSummary summary = visible ? statistics->range(t0, t1) : statistics->window();
    if (summary.count > 0) {
        set(ColMin, Number(summary.min, decimals));
        set(ColMax, Number(summary.max, decimals));
        set(ColMean, Number(summary.mean, decimals + 1));
        set(ColStdDev, Number(summary.stddev, decimals + 1));
    } else {
        for (int column : {ColMin, ColMax, ColMean, ColStdDev})
            set(column, QString());
    }
    const QBrush background = alarm != LimitAlarm::State::Normal ? QBrush(AlarmRowColour) : QBrush();
    const QBrush text = hasValue && !fresh ? QBrush(StaleTextColour) : QBrush();
    for (int column = 0; column < Columns; ++column) {
        QTableWidgetItem *item = table->item(row, column);
        if (item->background() != background)
            item->setBackground(background);
        if (column == ColValue && item->foreground() != text)
            item->setForeground(text);
    }
}
