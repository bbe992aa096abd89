#include "watch/WatchUnit.h"

#include "chart/ChartWidget.h"
#include "ui_WatchUnit.h"
#include "widgets/Prompter.h"

#include <QDateTime>
#include <QDir>

#include <cmath>
#include <limits>

// The watch's recording journal ("Data.watch.journal" beside the settings
// file): every value of every module and computed channel, so that a crash
// during a watch costs at most the last flush interval of each. Channel n + 1
// of the journal is column n of the watch (modules first, then the computed
// channels); X is the round.

namespace
{
/// A computed mean has more decimals than its members: kept with two more.
constexpr int MeanExtraDecimals = 2;

qint32 RawOf(double value, int decimals)
{
    const double raw = std::round(value * std::pow(10.0, decimals));
    constexpr double Low = std::numeric_limits<qint32>::min();
    constexpr double High = std::numeric_limits<qint32>::max();
    return qint32(std::clamp(raw, Low, High));
}
} // namespace

void TfrmWatch::JournalValue(int column, double x, double value, qint64 timeMs, std::optional<qint32> raw)
{
    int decimals = ColumnDecimals(column);
    if (!raw) {
        const bool mean = m_channels[std::size_t(column - m_config.modules.size())].kind() ==
                          ComputedChannel::Kind::Mean;
        decimals += mean ? MeanExtraDecimals : 0;
        raw = RawOf(value, decimals);
    }
    m_journal.append(column + 1, qint64(x), *raw, decimals, timeMs);
}

void TfrmWatch::OfferJournalRestore()
{
    using Leftover = RecordingJournal::Leftover;
    switch (m_journal.claimLeftover()) {
    case Leftover::None:
        return;
    case Leftover::Claimed:
        break;
    case Leftover::HeldElsewhere:
    case Leftover::LockUnjudged:
    case Leftover::NotRegular:
        // Another program's (or something that is no journal): left as it is.
        m_journal.runWithout();
        m_ui->StatusBar1->showMessage(
            tr("监视记录文件 %1 正由另一个程序使用或无法判断，本次不保留监视记录。")
                .arg(QDir::toNativeSeparators(m_journal.path())));
        return;
    }
    const RecordingJournal::ReadResult found = RecordingJournal::Read(m_journal.path());
    if (!found.opened || found.samples == 0) {
        if (found.opened && found.fileBytes == 0)
            m_journal.remove();
        else
            m_journal.setAside(QStringLiteral("damaged")); // kept, never deleted
        return;
    }
    const auto timeText = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    const QString question = tr("上次监视未正常结束，监视记录中有 %1 个未保存的数值（%2 至 %3）。"
                                "是否恢复到监视的图表中？")
                                 .arg(found.samples)
                                 .arg(timeText(found.firstMs), timeText(found.lastMs));
    if (!Prompts().askYesNo(this, tr("提示"), question)) {
        m_journal.setAside(QStringLiteral("declined"));
        return;
    }
    ChartWidget *plot = chart();
    plot->suspendRepaint();
    qint64 lastX = -1;
    try {
        RecordingJournal::Read(m_journal.path(), [&](const RecordingJournal::Block &block) {
            const int column = block.channel - 1;
            if (column < 0 || column >= ColumnCount())
                return true; // of a watch set up otherwise since
            const int channel = m_chartChannels[column];
            for (std::size_t i = 0; i < block.values.size(); ++i)
                plot->appendTimed(channel, double(block.firstX + qint64(i)),
                                  BusWatch::DisplayValue(block.values[i], block.decimal), block.wallMs[i]);
            lastX = std::max(lastX, block.firstX + qint64(block.values.size()) - 1);
            return true;
        });
    } catch (const std::bad_alloc &) {
        Prompts().showError(this, tr("内存不足：监视记录未能全部恢复到图表中。"));
    }
    plot->resumeRepaint();
    m_nextX = std::max(m_nextX, lastX + 1);
    m_journal.adopt(found.validBytes);
}
