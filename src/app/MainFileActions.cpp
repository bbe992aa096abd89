#include "app/MainUnit.h"

#include "app/ScopeExit.h"
#include "chart/ChartWidget.h"
#include "chart/SampleDataFile.h"
#include "chart/SmoothingFilter.h"
#include "io/SettingsKeys.h"
#include "ui_MainUnit.h"
#include "widgets/FileProgress.h"
#include "widgets/Prompter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

// The main window's work on the samples: clearing, smoothing, export and
// import, and the recording journal's restore after a crash.

namespace
{
namespace Keys = SettingsKeys;

QString FilterClassPrefix()
{
    return QCoreApplication::translate("TfrmMain", "滤波级数：");
}
const QString ExportFilter = QStringLiteral("Text File (*.txt)");
QString ImportFilter()
{
    return QCoreApplication::translate("TfrmMain", "文本文件(*.txt)");
}
const QString DataFileSuffix = QStringLiteral("txt");

} // namespace

// --- Recording journal -----------------------------------------------------

void TfrmMain::OfferJournalRestore()
{
    using Leftover = RecordingJournal::Leftover;
    const QString journalFile = QDir::toNativeSeparators(m_journal.path());
    // A journal nobody holds: the run that wrote it did not end normally.
    bool owned = false;
    switch (m_journal.claimLeftover()) {
    case Leftover::None:
        return;
    case Leftover::Claimed:
        owned = true;
        break;
    case Leftover::NotRegular:
        Prompts().showError(this,
                            tr("记录文件 %1 不是普通文件，未读取，保持原样：\n%2\n\n本次运行不保留记录，"
                               "程序意外退出时采样无法恢复。")
                                .arg(journalFile, m_journal.lastError()));
        return;
    case Leftover::HeldElsewhere:
        Prompts().inform(this, tr("记录文件 %1 正由另一个运行中的程序使用：本次运行不保留记录，"
                                  "程序意外退出时采样无法恢复。")
                                   .arg(journalFile));
        return;
    case Leftover::LockUnjudged:
        // Empty (a power cut right after it was made), unreadable, or from
        // another computer: only the operator can tell whether it is in use.
        if (Prompts().askYesNo(this, tr("提示"),
                               tr("无法判断记录文件 %1 是否正由另一个程序使用（锁文件 %2 "
                                  "为空、无法读取或来自另一台计算机）。"
                                  "\n\n没有别的程序使用它时，选“是”接管记录文件；选“否”则本次运行不保留记录，"
                                  "程序意外退出时采样无法恢复。")
                                   .arg(journalFile, QDir::toNativeSeparators(m_journal.lockPath())))) {
            owned = m_journal.takeOverLock();
            if (!owned)
                Prompts().showError(this, m_journal.lastError() + u'\n' + tr("本次运行不保留记录。"));
        }
        if (!owned)
            m_journal.runWithout();
        if (!QFileInfo(m_journal.path()).isFile())
            return;
        break;
    }

    // Not owned: another program may hold it; its samples are still offered,
    // but the file is left exactly as it is.
    const RecordingJournal::ReadResult found = RecordingJournal::Read(m_journal.path());
    if (!found.opened) {
        Prompts().showError(this, tr("上次运行的记录文件 %1 无法读取：\n%2")
                                      .arg(QDir::toNativeSeparators(m_journal.path()), found.error));
        return;
    }
    if (found.samples == 0) {
        if (found.fileBytes == 0) {
            m_journal.remove(); // nothing was recorded
            return;
        }
        // Nothing left to restore: kept aside, never deleted.
        const QString kept = owned ? m_journal.setAside(QStringLiteral("damaged")) : QString();
        Prompts().showError(
            this, tr("上次运行的记录文件 %1 已损坏，没有可恢复的采样（%2 字节无法读出）。")
                          .arg(QDir::toNativeSeparators(m_journal.path()))
                          .arg(found.damagedBytes) +
                      (kept.isEmpty() ? QString()
                                      : tr("\n该文件已改名保存为 %1。").arg(QDir::toNativeSeparators(kept))));
        return;
    }
    const auto timeText = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    QString damage;
    if (found.lostSamples > 0)
        damage = tr("记录文件有损坏之处，约 %1 个采样因此丢失。").arg(found.lostSamples);
    else if (found.damagedBytes > 0)
        damage = tr("记录文件有 %1 字节损坏，无法读出。").arg(found.damagedBytes);
    const QString question =
        tr("上次运行未正常结束，记录中有 %1 个未保存的采样（%2 至 %3）。%4是否恢复到曲线中？")
            .arg(found.samples)
            .arg(timeText(found.firstMs), timeText(found.lastMs), damage);
    if (!Prompts().askYesNo(this, tr("提示"), question)) {
        m_journal.setAside(QStringLiteral("declined")); // kept for a few runs, in case
        return;
    }
    // The samples go back to channel 0 with their X and values as plotted;
    // the journal goes on after them, holding what the chart holds.
    ChartChannel &samples = m_ui->pltMain->data().channel(ChartWidget::SampleChannel);
    std::vector<double> x, y;
    bool complete = true;
    m_ui->pltMain->suspendRepaint();
    try {
        RecordingJournal::Read(m_journal.path(), [&](const RecordingJournal::Block &block) {
            if (block.channel != 0)
                return true; // not the single module's: this journal only ever gets channel 0
            const std::size_t n = block.values.size();
            x.resize(n);
            y.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                x[i] = double(block.firstX + qint64(i));
                y[i] = ModuleSession::DisplayValueOf(block.values[i], block.decimal);
            }
            samples.appendRange(x.data(), y.data(), qsizetype(n));
            return true;
        });
    } catch (const std::bad_alloc &) {
        complete = false;
    }
    m_ui->pltMain->resumeRepaint();
    // Short of memory, the journal keeps the samples the chart could not
    // take; new ones are counted on after them either way.
    m_sampleCount = std::max(m_sampleCount, found.lastX);
    if (owned)
        m_journal.adopt(found.validBytes);
    if (!complete)
        Prompts().showError(this, tr("内存不足：记录中的采样未能全部恢复到曲线中。"));
}

void TfrmMain::JournalWriteFailed(const QString &reason)
{
    // The notice waits until the handler that recorded the sample has ended.
    QTimer::singleShot(0, this, [this, reason] {
        Prompts().showError(
            this, tr("记录文件 %1 无法写入：\n%2\n\n曲线照常记录，但程序意外退出时这些采样可能无法恢复。")
                      .arg(QDir::toNativeSeparators(m_journal.path()), reason));
    });
}

// --- Sample data -----------------------------------------------------------

void TfrmMain::FileWorkBegins()
{
    m_fileWorkRunning = true;
    ApplyState(m_state);
}

void TfrmMain::FileWorkEnds()
{
    m_fileWorkRunning = false;
    ApplyState(m_state);
}

void TfrmMain::btnClearClick()
{
    if (m_fileWorkRunning)
        return;
    m_ui->pltMain->clearAll();
    m_sampleCount = 0;
    m_journal.remove();
}

void TfrmMain::mnuClearDataClick()
{
    btnClearClick();
}

// --- Sample data -----------------------------------------------------------

void TfrmMain::btnFilterClick()
{
    if (m_fileWorkRunning)
        return;
    if (!ApplySmoothing(*m_smoothing, m_ui->tbFilterClass->value(), m_ui->pltMain->data()))
        Prompts().showError(this, tr("内存不足：滤波未能完成，滤波曲线不完整。"));
}

void TfrmMain::tbFilterClassChange()
{
    m_ui->sttFilterClass->setText(FilterClassPrefix() + QString::number(m_ui->tbFilterClass->value()));
    btnFilterClick();
}

void TfrmMain::ckbViewMarkerClick()
{
    const bool visible = m_ui->ckbViewMarker->isChecked();
    for (int channel = 0; channel < m_ui->pltMain->channelCount(); ++channel)
        m_ui->pltMain->setMarkersVisible(channel, visible);
    m_settings.WriteBool(Keys::SectionRuntime, Keys::KeyViewDataMarker, visible);
}

void TfrmMain::ExportData()
{
    if (m_fileWorkRunning)
        return;
    const QString name = Prompts().saveFileName(this, ExportFilter, DataFileSuffix);
    if (name.isEmpty())
        return;
    FileWorkBegins();
    const ScopeExit done([this] { FileWorkEnds(); });
    // The file holds the samples there are now; those arriving while it is
    // written stay in the chart (and the journal) only. A cancelled export
    // says nothing: the target is as it was.
    const qint64 samplesBefore = m_sampleCount;
    QString error;
    FileProgress progress(this, tr("正在导出数据..."));
    const SampleFileResult written =
        WriteSampleDataFile(m_ui->pltMain->data(), name, progress.callback(), &error);
    if (written == SampleFileResult::Failed)
        Prompts().showError(this, QLatin1String(SaveDataErrorPrefix) + error);
    else if (written == SampleFileResult::Done && m_sampleCount == samplesBefore)
        m_journal.remove(); // every live sample is in the file
}

void TfrmMain::btnExportClick()
{
    ExportData();
}

void TfrmMain::E1Click()
{
    ExportData();
}

void TfrmMain::btnLoadDataClick()
{
    if (m_fileWorkRunning)
        return;
    const QString name = Prompts().openFileName(this, ImportFilter(), DataFileSuffix);
    if (name.isEmpty())
        return;
    FileWorkBegins();
    const ScopeExit done([this] { FileWorkEnds(); });
    ChartWidget *chart = m_ui->pltMain;
    const qsizetype samplesBefore = chart->count(ChartWidget::SampleChannel);
    QString error;
    SampleFileResult read = SampleFileResult::Failed;
    {
        // Live samples arriving meanwhile are held (PlotValue) and appended
        // after the imported points and the mean line.
        m_importRunning = true;
        const ScopeExit importEnded([this] { m_importRunning = false; });
        FileProgress progress(this, tr("正在导入数据..."));
        chart->suspendRepaint();
        read = ReadSampleDataFile(chart->data(), name, progress.callback(), &error);
        chart->resumeRepaint();
    }
    if (read == SampleFileResult::Cancelled)
        Prompts().inform(this, tr("导入已取消：已读入的 %1 个点保留在曲线中，未画均值线。")
                                   .arg(chart->count(ChartWidget::SampleChannel) - samplesBefore));
    else if (read == SampleFileResult::Failed || !AppendMeanLine(chart->data(), &error))
        Prompts().showError(this, QLatin1String(LoadDataErrorPrefix) + error);
    AppendHeldSamples();
}

void TfrmMain::AppendHeldSamples()
{
    const std::vector<HeldSample> held = std::exchange(m_heldSamples, {});
    try {
        for (const HeldSample &sample : held)
            m_ui->pltMain->appendTimed(ChartWidget::SampleChannel, sample.x, sample.y, sample.timeMs);
    } catch (const std::bad_alloc &) {
        Prompts().showError(this, tr("内存不足：新的读数无法再加入曲线，已有的数据保留。"));
    }
}
