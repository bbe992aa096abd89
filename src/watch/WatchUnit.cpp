#include "watch/WatchUnit.h"

#include "chart/ChartWidget.h"
#include "device/DeviceLink.h"
#include "device/ModuleSession.h"
#include "io/SettingsStore.h"
#include "ui_WatchUnit.h"
#include "watch/WatchSetupUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>

#include <algorithm>

namespace
{
namespace Keys = SettingsKeys;
QString KindName(ComputedChannel::Kind kind)
{
    switch (kind) {
    case ComputedChannel::Kind::Sum:
        return TfrmWatch::tr("合计");
    case ComputedChannel::Kind::Mean:
        return TfrmWatch::tr("平均");
    case ComputedChannel::Kind::Difference:
        return TfrmWatch::tr("差值");
    }
    return {};
}

} // namespace

TfrmWatch::TfrmWatch(ModuleSession &session, SettingsStore &settings, QWidget *parent)
    : QMainWindow(parent), m_session(session), m_settings(settings), m_ui(std::make_unique<Ui::TfrmWatch>()),
      m_watch(session.link()),
      m_journal(RecordingJournal::PathBeside(settings.filePath(), RecordingJournal::WatchFileName))
{
    m_ui->setupUi(this);
    m_ui->tblWatch->setColumnCount(Columns);
    m_ui->tblWatch->setHorizontalHeaderLabels({tr("名称"), tr("地址"), tr("数值"), tr("距今(s)"), tr("应答"),
                                               tr("超时"), tr("最小"), tr("最大"), tr("平均"), tr("标准差"),
                                               tr("状态")});
    // Widths are set for the widest texts a column can hold, not fitted with
    // every new value (fitting looks at every cell); the state, last, takes the rest.
    m_ui->tblWatch->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_ui->tblWatch->horizontalHeader()->setSectionResizeMode(ColState, QHeaderView::Stretch);
    m_ui->tblWatch->verticalHeader()->setVisible(false);
    m_ui->splWatch->setStretchFactor(1, 1);
    m_ui->pltWatch->setToolbarVisible(true);
    m_ui->pltWatch->setClockTimeAxis(true);
    m_ui->pltWatch->setMinimumHeight(200);

    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("PopupMenuWatch"));
    for (ChartWidget::Action action : {ChartWidget::Action::FitAll, ChartWidget::Action::Live,
                                       ChartWidget::Action::ClockTime, ChartWidget::Action::SavePicture})
        menu->addAction(m_ui->pltWatch->action(action));
    connect(m_ui->pltWatch, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint &pos) { menu->popup(m_ui->pltWatch->mapToGlobal(pos)); });

    m_sttRounds = new QLabel(this);
    m_sttRounds->setObjectName(QStringLiteral("sttRounds"));
    m_sttAlarm = new QLabel(this);
    m_sttAlarm->setObjectName(QStringLiteral("sttAlarm"));
    m_sttAlarm->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
    // Kept in view while the status bar shows a message (the latest alarm, a file saved).
    m_ui->StatusBar1->addPermanentWidget(m_sttAlarm);
    m_ui->StatusBar1->addPermanentWidget(m_sttRounds);
    // The round count changes at every refresh: a label of fixed size
    // repaints without laying the window out again.
    const QFontMetrics fm(m_sttRounds->font());
    m_sttRounds->setFixedSize(
        fm.horizontalAdvance(tr("第 %1 轮，每秒 %2 轮").arg(9999999999LL).arg(QStringLiteral("999.9"))) +
            fm.averageCharWidth(),
        m_sttRounds->sizeHint().height());

    m_config = WatchConfig::Read(settings);
    m_ui->speInterval->setLimits(Keys::WatchInterval.minimum, Keys::WatchInterval.maximum);
    m_ui->speInterval->setClampedValue(m_config.intervalMs);
    m_ui->speWindow->setLimits(Keys::WatchStatisticsSeconds.minimum, Keys::WatchStatisticsSeconds.maximum);
    m_ui->speWindow->setClampedValue(m_config.statisticsSeconds);
    m_ui->cbBeep->setChecked(m_config.beep);
    m_config.ApplyTo(m_watch);
    BuildColumns();

    connect(m_ui->btnStart, &QPushButton::clicked, this, &TfrmWatch::btnStartClick);
    connect(m_ui->btnStop, &QPushButton::clicked, this, &TfrmWatch::btnStopClick);
    connect(m_ui->btnSetup, &QPushButton::clicked, this, &TfrmWatch::btnSetupClick);
    connect(m_ui->btnAcknowledge, &QPushButton::clicked, this, &TfrmWatch::btnAcknowledgeClick);
    connect(m_ui->btnAlarms, &QPushButton::clicked, this, &TfrmWatch::btnAlarmsClick);
    connect(m_ui->btnClear, &QPushButton::clicked, this, &TfrmWatch::btnClearClick);
    connect(m_ui->btnExport, &QPushButton::clicked, this, &TfrmWatch::btnExportClick);
    connect(m_ui->btnImport, &QPushButton::clicked, this, &TfrmWatch::btnImportClick);
    connect(m_ui->speInterval, &QSpinBox::valueChanged, this, [this] {
        m_watch.setIntervalMs(m_ui->speInterval->clampedValue());
        StoreRunSettings();
    });
    connect(m_ui->speWindow, &QSpinBox::valueChanged, this, &TfrmWatch::StatisticsWindowChanged);
    connect(m_ui->cbBeep, &QCheckBox::toggled, this, &TfrmWatch::StoreRunSettings);
    connect(m_ui->cbVisibleRange, &QCheckBox::toggled, this, &TfrmWatch::RefreshView);

    connect(&m_watch, &BusWatch::valueRead, this, &TfrmWatch::ValueRead);
    connect(&m_watch, &BusWatch::roundCompleted, this, &TfrmWatch::RoundCompleted);
    connect(&m_watch, &BusWatch::failed, this, &TfrmWatch::WatchFailed);
    m_refresh.setInterval(RefreshIntervalMs);
    connect(&m_refresh, &QTimer::timeout, this, &TfrmWatch::RefreshView);
    RefreshView();
    // Once the program is up: a watch that ended in a crash is offered back.
    QTimer::singleShot(0, this, &TfrmWatch::OfferJournalRestore);
}

TfrmWatch::~TfrmWatch()
{
    m_watch.stop();
    // A normal end: the journal is for runs that do not get here.
    m_journal.remove();
}

ChartWidget *TfrmWatch::chart() const
{
    return m_ui->pltWatch;
}

// --- Columns -------------------------------------------------------------------

QString TfrmWatch::ColumnName(int column) const
{
    return column < m_config.modules.size() ? m_config.modules[column].name
                                            : m_channels[std::size_t(column - m_config.modules.size())].name();
}

QString TfrmWatch::ColumnUnit(int column) const
{
    return column < m_config.modules.size() ? m_config.modules[column].unit
                                            : m_channels[std::size_t(column - m_config.modules.size())].unit();
}

int TfrmWatch::ColumnDecimals(int column) const
{
    if (column < m_config.modules.size())
        return m_config.modules[column].decimals;
    // A computed channel shows as many decimals as its finest member.
    int decimals = 0;
    for (int member : m_channels[std::size_t(column - m_config.modules.size())].members())
        decimals = std::max(decimals, m_config.modules.value(member).decimals);
    return decimals;
}

QString TfrmWatch::ColumnHeader(int column) const
{
    const QString unit = ColumnUnit(column);
    return unit.isEmpty() ? ColumnName(column) : QStringLiteral("%1 (%2)").arg(ColumnName(column), unit);
}

void TfrmWatch::BuildColumns()
{
    ChartWidget *plot = chart();
    plot->suspendRepaint();
    while (plot->channelCount() > ChartWidget::ChannelCount)
        plot->removeTrace(plot->channelCount() - 1);
    plot->clearAll();
    m_channels.clear();
    for (const WatchChannelConfig &channel : m_config.channels) {
        m_channels.emplace_back(channel.kind, channel.members, channel.name, channel.unit);
        m_channels.back().statistics().setWindowMs(qint64(m_config.statisticsSeconds) * 1000);
    }
    m_alarms = LimitAlarm{};
    for (const WatchLimitConfig &limit : m_config.limits)
        m_alarms.setLimits(limit.channel, limit.limits);
    m_chartChannels.clear();
    m_redTraces.assign(std::size_t(ColumnCount()), false);
    for (int column = 0; column < ColumnCount(); ++column) {
        const int channel = plot->addTrace(ColumnName(column));
        m_chartChannels << channel;
        const bool charted = column >= m_config.modules.size() || m_config.modules[column].charted;
        plot->setTraceVisible(channel, charted);
    }
    plot->resumeRepaint();
    m_xBase = m_nextX = 0;
    m_imported = false;

    QTableWidget *table = m_ui->tblWatch;
    table->setRowCount(ColumnCount());
    for (int row = 0; row < ColumnCount(); ++row) {
        for (int column = 0; column < Columns; ++column) {
            auto *item = new QTableWidgetItem;
            if (column != ColName && column != ColState)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, column, item);
        }
        table->item(row, ColName)->setText(ColumnName(row));
        if (row < m_config.modules.size()) {
            table->item(row, ColAddress)->setText(QString::number(m_config.modules[row].address));
        } else {
            const ComputedChannel &channel = m_channels[std::size_t(row - m_config.modules.size())];
            QStringList members;
            for (int member : channel.members())
                members << m_config.modules.value(member).name;
            table->item(row, ColAddress)->setText(KindName(channel.kind()));
            table->item(row, ColAddress)->setToolTip(members.join(QStringLiteral(", ")));
        }
    }
    m_ui->btnStart->setEnabled(!m_config.modules.isEmpty() && !m_watch.isRunning());
    FitColumns();
}

void TfrmWatch::FitColumns()
{
    // The widest text each column can show: a long value with the widest
    // unit, counts of a long watch.
    int decimals = 0;
    QString unit;
    QStringList names;
    for (int column = 0; column < ColumnCount(); ++column) {
        decimals = std::max(decimals, ColumnDecimals(column));
        if (ColumnUnit(column).size() > unit.size())
            unit = ColumnUnit(column);
        names << ColumnName(column);
    }
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString number = locale.toString(-888888.0, 'f', decimals + 1);
    const QStringList widest[Columns - 1] = {
        names, {QStringLiteral("255"), tr("差值")}, {number + unit}, {QStringLiteral("8888.8")},
        {QStringLiteral("88888888")}, {QStringLiteral("88888888")}, {number}, {number}, {number}, {number}};
    QTableWidget *table = m_ui->tblWatch;
    const QFontMetrics metrics(table->font());
    constexpr int Padding = 16;
    for (int column = 0; column < Columns - 1; ++column) {
        int width = table->horizontalHeader()->sectionSizeHint(column);
        for (const QString &text : widest[column])
            width = std::max(width, metrics.horizontalAdvance(text) + Padding);
        table->setColumnWidth(column, width);
    }
}

void TfrmWatch::ApplyConfig(const WatchConfig &config)
{
    const bool running = m_watch.isRunning();
    m_watch.stop();
    m_config = config;
    m_config.intervalMs = m_ui->speInterval->clampedValue();
    m_config.statisticsSeconds = m_ui->speWindow->clampedValue();
    m_config.beep = m_ui->cbBeep->isChecked();
    if (!m_config.Write(m_settings))
        Tell(tr("监视设置无法写入设置文件：%1").arg(m_settings.lastError()));
    m_config.ApplyTo(m_watch);
    BuildColumns();
    m_journal.remove(); // what it held is gone from the chart
    if (running && !m_config.modules.isEmpty())
        btnStartClick();
    RefreshView();
}

void TfrmWatch::AddModules(const QList<DeviceAddress> &addresses)
{
    WatchConfig config = m_config;
    for (DeviceAddress address : addresses) {
        const bool known = std::any_of(config.modules.cbegin(), config.modules.cend(),
                                       [address](const WatchModule &m) { return m.address == address; });
        if (known || config.modules.size() >= Keys::WatchModulesMax)
            continue;
        WatchModule module;
        module.address = address;
        module.name = tr("模块 %1").arg(address);
        module.decimals = m_session.current().Decimal;
        module.unit = m_session.current().MeasureUnit;
        config.modules << module;
    }
    if (config.modules != m_config.modules) {
        if (!MayDiscardData(tr("添加模块")))
            return;
        ApplyConfig(config);
    }
    show();
    raise();
    activateWindow();
}

void TfrmWatch::StoreRunSettings()
{
    m_config.intervalMs = m_ui->speInterval->clampedValue();
    m_config.statisticsSeconds = m_ui->speWindow->clampedValue();
    m_config.beep = m_ui->cbBeep->isChecked();
    SettingsStore::Batch batch(m_settings);
    m_settings.WriteInteger(Keys::SectionWatch, Keys::WatchInterval.key, m_config.intervalMs);
    m_settings.WriteInteger(Keys::SectionWatch, Keys::WatchStatisticsSeconds.key, m_config.statisticsSeconds);
    m_settings.WriteInteger(Keys::SectionWatch, Keys::WatchBeep.key, m_config.beep ? 1 : 0);
    batch.commit();
}

void TfrmWatch::StatisticsWindowChanged()
{
    const qint64 ms = qint64(m_ui->speWindow->clampedValue()) * 1000;
    m_watch.setStatisticsWindowMs(ms);
    for (ComputedChannel &channel : m_channels)
        channel.statistics().setWindowMs(ms);
    StoreRunSettings();
    RefreshView();
}

// --- Running -------------------------------------------------------------------

void TfrmWatch::btnStartClick()
{
    if (m_watch.isRunning())
        return;
    if (m_config.modules.isEmpty())
        return Tell(tr("监视列表中没有模块。请先设置模块或从总线扫描添加。"));
    if (!m_session.link().isOpen())
        return Tell(tr("串口未打开，不能监视。请先打开串口。"));
    if (m_session.link().IsReserved())
        return Tell(tr("总线扫描正在进行，请等扫描结束后再试。"));
    if (m_imported) {
        // The chart shows a file: the watch starts a new recording.
        if (!MayDiscardData(tr("开始监视")))
            return;
        BuildColumns();
        m_journal.remove();
    }
    if (!m_watch.start())
        return Tell(tr("监视无法开始。"));
    m_xBase = m_nextX;
    m_roundsAtRate = 0;
    m_rateSinceMs = QDateTime::currentMSecsSinceEpoch();
    ShowRunning(true);
}

void TfrmWatch::btnStopClick()
{
    m_watch.stop();
    ShowRunning(false);
}

void TfrmWatch::ShowRunning(bool running)
{
    if (!running)
        m_nextX = m_xBase + qint64(m_watch.rounds()) + 1;
    m_ui->btnStart->setEnabled(!running && !m_config.modules.isEmpty());
    m_ui->btnStop->setEnabled(running);
    m_ui->btnImport->setEnabled(!running);
    m_ui->btnClear->setEnabled(!running);
    if (running)
        m_refresh.start();
    else
        m_refresh.stop();
    RefreshView();
}

void TfrmWatch::WatchFailed(const QString &error, bool reported)
{
    ShowRunning(false);
    if (!reported)
        Tell(error.isEmpty() ? tr("监视已停止：串口已关闭。") : tr("监视已停止：%1").arg(error));
    else
        m_sttRounds->setText(tr("监视已停止"));
}

void TfrmWatch::ValueRead(int index, std::int32_t raw, double value, qint64 timeMs)
{
    const double x = double(m_xBase + qint64(m_watch.rounds()));
    chart()->appendTimed(m_chartChannels[index], x, value, timeMs);
    JournalValue(index, x, value, timeMs, raw);
    CheckLimits(index, value, timeMs);
    const WatchModule &module = m_config.modules[index];
    emit moduleValueRead(module.address, raw, module.decimals, module.unit, timeMs);
}

void TfrmWatch::RoundCompleted(quint64 round, qint64 timeMs)
{
    // The round just completed is the one whose values were given X = base + round - 1.
    const double x = double(m_xBase + qint64(round) - 1);
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        ComputedChannel &channel = m_channels[i];
        const std::optional<double> value = channel.update(m_watch.statuses(), timeMs);
        if (!value)
            continue;
        const int column = int(m_config.modules.size() + qsizetype(i));
        chart()->appendTimed(m_chartChannels[column], x, *value, timeMs);
        JournalValue(column, x, *value, timeMs, std::nullopt);
        CheckLimits(column, *value, timeMs);
        emit channelComputed(channel.name(), *value, channel.unit(), timeMs);
    }
    for (ComputedChannel &channel : m_channels)
        channel.statistics().advanceTo(timeMs);
}

void TfrmWatch::btnSetupClick()
{
    TfrmWatchSetup dialog(m_config, m_session.current().Decimal, m_session.current().MeasureUnit, this);
    if (ShowModal(&dialog) != QDialog::Accepted)
        return;
    const WatchConfig &config = dialog.config();
    const bool sameColumns = config.modules == m_config.modules && config.channels == m_config.channels;
    if (!sameColumns && !MayDiscardData(tr("更改模块或计算通道")))
        return;
    if (sameColumns) {
        // Only limits or polling figures changed: the recording goes on.
        m_config.limits = config.limits;
        m_config.timeoutMs = config.timeoutMs;
        m_config.lostAfter = config.lostAfter;
        m_config.lostRetry = config.lostRetry;
        for (int column = 0; column < ColumnCount(); ++column)
            m_alarms.setLimits(ColumnName(column), {});
        for (const WatchLimitConfig &limit : m_config.limits)
            m_alarms.setLimits(limit.channel, limit.limits);
        m_watch.setTimeoutMs(m_config.timeoutMs);
        m_watch.setLostAfter(m_config.lostAfter);
        m_watch.setLostRetry(m_config.lostRetry);
        if (!m_config.Write(m_settings))
            Tell(tr("监视设置无法写入设置文件：%1").arg(m_settings.lastError()));
        RefreshView();
        return;
    }
    ApplyConfig(config);
}

void TfrmWatch::closeEvent(QCloseEvent *event)
{
    // A closed window keeps watching: the operator stops it with its button.
    event->accept();
}
