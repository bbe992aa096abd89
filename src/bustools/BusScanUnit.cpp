#include "bustools/BusScanUnit.h"

#include "device/ModuleSession.h"
#include "ui_BusScanUnit.h"
#include "widgets/Prompter.h"

#include <QHeaderView>
#include <QTreeWidgetItem>

namespace
{
enum ModuleColumn { ColAddress, ColValue, ColAnswerMs };
enum ConflictColumn { ColAsked, ColAnswered, ColMeaning };
constexpr int AddressRole = Qt::UserRole;
constexpr int AnswerMsDecimals = 1;
} // namespace

TfrmBusScan::TfrmBusScan(ModuleSession &session, QWidget *parent)
    : QDialog(parent), m_session(session), m_ui(std::make_unique<Ui::TfrmBusScan>()), m_scanner(session)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);

    m_ui->speFrom->setLimits(BusScanner::FirstAddress, BusScanner::LastAddress);
    m_ui->speFrom->setClampedValue(BusScanner::FirstAddress);
    m_ui->speTo->setLimits(BusScanner::FirstAddress, BusScanner::LastAddress);
    m_ui->speTo->setClampedValue(BusScanner::LastAddress);
    m_ui->speTimeout->setLimits(BusScanner::MinTimeoutMs, BusScanner::MaxTimeoutMs);
    m_ui->speTimeout->setClampedValue(BusScanner::DefaultTimeoutMs);
    m_ui->lvModules->header()->setStretchLastSection(true);
    m_ui->lvConflicts->header()->setStretchLastSection(true);

    connect(m_ui->btnStart, &QPushButton::clicked, this, &TfrmBusScan::btnStartClick);
    connect(m_ui->btnStop, &QPushButton::clicked, this, &TfrmBusScan::btnStopClick);
    connect(m_ui->btnUse, &QPushButton::clicked, this, &TfrmBusScan::btnUseClick);
    connect(m_ui->btnWatch, &QPushButton::clicked, this, &TfrmBusScan::btnWatchClick);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &TfrmBusScan::reject);
    connect(m_ui->lvModules, &QTreeWidget::itemDoubleClicked, this, &TfrmBusScan::lvModulesDblClick);
    connect(m_ui->lvModules, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_ui->btnUse->setEnabled(!m_ui->lvModules->selectedItems().isEmpty()); });

    connect(&m_scanner, &BusScanner::listening, this, &TfrmBusScan::ScanListening);
    connect(&m_scanner, &BusScanner::asking, this, &TfrmBusScan::ScanAsking);
    connect(&m_scanner, &BusScanner::found, this, &TfrmBusScan::ScanFound);
    connect(&m_scanner, &BusScanner::conflict, this, &TfrmBusScan::ScanConflict);
    connect(&m_scanner, &BusScanner::finished, this, &TfrmBusScan::ScanFinished);
}

TfrmBusScan::~TfrmBusScan() = default;

// --- Operator ------------------------------------------------------------------

void TfrmBusScan::btnStartClick()
{
    const int from = m_ui->speFrom->clampedValue();
    const int to = m_ui->speTo->clampedValue();
    m_scanner.setTimeoutMs(m_ui->speTimeout->clampedValue());
    const BusScanner::Refusal refusal = m_scanner.start(DeviceAddress(from), DeviceAddress(to));
    switch (refusal) {
    case BusScanner::Refusal::None:
        break;
    case BusScanner::Refusal::Running:
        return;
    case BusScanner::Refusal::PortClosed:
        return Tell(tr("串口未打开，不能扫描。请先打开串口。"));
    case BusScanner::Refusal::Reading:
        return Tell(tr("正在实时读数，不能扫描。请先停止读数。"));
    case BusScanner::Refusal::LineBusy:
        return Tell(tr("串口正在等待其他操作的应答，请稍后再扫描。"));
    case BusScanner::Refusal::EmptyRange:
        return Tell(tr("起始地址不能大于结束地址。"));
    }
    m_ui->lvModules->clear();
    m_ui->lvConflicts->clear();
    m_ui->pbScan->setRange(0, to - from + 1);
    m_ui->pbScan->setValue(0);
    ShowRunning(true);
}

void TfrmBusScan::btnStopClick()
{
    m_scanner.stop();
    if (m_scanner.isRunning()) {
        // The question in progress is answered or runs out first.
        m_ui->btnStop->setEnabled(false);
        m_ui->sttAsking->setText(tr("正在停止..."));
    }
}

void TfrmBusScan::btnUseClick()
{
    const QList<QTreeWidgetItem *> selected = m_ui->lvModules->selectedItems();
    if (!selected.isEmpty())
        UseAddress(DeviceAddress(selected.constFirst()->data(ColAddress, AddressRole).toInt()));
}

void TfrmBusScan::lvModulesDblClick(QTreeWidgetItem *item)
{
    if (item)
        UseAddress(DeviceAddress(item->data(ColAddress, AddressRole).toInt()));
}

void TfrmBusScan::btnWatchClick()
{
    QList<DeviceAddress> addresses;
    for (int row = 0; row < m_ui->lvModules->topLevelItemCount(); ++row)
        addresses << DeviceAddress(m_ui->lvModules->topLevelItem(row)->data(ColAddress, AddressRole).toInt());
    if (addresses.isEmpty())
        return Tell(tr("没有找到模块。请先扫描总线。"));
    emit addToWatch(addresses);
}

void TfrmBusScan::reject()
{
    m_scanner.stop();
    QDialog::reject();
}

void TfrmBusScan::UseAddress(DeviceAddress address)
{
    // Live reading keeps its address, as the main window's address field does.
    if (m_session.IsReading())
        return Tell(tr("正在实时读数，不能更改当前地址。请先停止读数。"));
    m_session.SetCurrentAddress(address);
    m_ui->sttAsking->setText(tr("当前地址已设为 %1").arg(address));
}

void TfrmBusScan::Tell(const QString &text)
{
    m_ui->sttAsking->setText(text);
    Prompts().inform(this, text);
}

// --- Scan ----------------------------------------------------------------------

void TfrmBusScan::ScanListening()
{
    m_ui->sttAsking->setText(tr("正在检查总线是否空闲..."));
}

void TfrmBusScan::ScanAsking(DeviceAddress address, int index, int count)
{
    m_ui->pbScan->setValue(index);
    if (!m_scanner.stopRequested())
        m_ui->sttAsking->setText(tr("正在询问地址 %1（%2/%3）").arg(address).arg(index + 1).arg(count));
}

void TfrmBusScan::ScanFound(const BusScanFinding &finding)
{
    const CurrentSettings &current = m_session.current();
    auto *item = new QTreeWidgetItem(m_ui->lvModules);
    item->setText(ColAddress, QString::number(finding.address));
    item->setData(ColAddress, AddressRole, int(finding.address));
    item->setText(ColValue, finding.hasValue
                                ? BusScanner::FormatValue(finding.value, current.Decimal, current.MeasureUnit)
                                : tr("未读到"));
    item->setText(ColAnswerMs, QString::number(finding.answerMs, 'f', AnswerMsDecimals));
    for (int column : {ColAddress, ColValue, ColAnswerMs})
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

void TfrmBusScan::ScanConflict(DeviceAddress asked, DeviceAddress answered, bool late)
{
    QString meaning;
    if (late)
        meaning = tr("地址 %1 的模块超时后才应答，请加大超时时间").arg(answered);
    else if (asked == answered)
        meaning = tr("同一地址有多个模块应答（地址重复）");
    else
        meaning = tr("询问地址 %1 时地址 %2 应答").arg(asked).arg(answered);
    auto *item = new QTreeWidgetItem(m_ui->lvConflicts);
    item->setText(ColAsked, QString::number(asked));
    item->setText(ColAnswered, QString::number(answered));
    item->setText(ColMeaning, meaning);
}

void TfrmBusScan::ScanFinished(BusScanner::Ending ending, const QString &detail)
{
    ShowRunning(false);
    const int modules = m_ui->lvModules->topLevelItemCount();
    switch (ending) {
    case BusScanner::Ending::Completed:
        m_ui->pbScan->setValue(m_ui->pbScan->maximum());
        m_ui->sttAsking->setText(tr("扫描完成：找到 %1 个模块").arg(modules));
        return;
    case BusScanner::Ending::Stopped:
        m_ui->sttAsking->setText(tr("扫描已停止：找到 %1 个模块").arg(modules));
        return;
    case BusScanner::Ending::AutoSending:
        return Tell(tr("未询问就收到了应答：总线上有模块处于自动发送状态，不能扫描。"
                       "请将模块重新上电（取消自动发送）后再扫描。"));
    case BusScanner::Ending::ReadingStarted:
        return Tell(tr("实时读数已开始，扫描已停止。"));
    case BusScanner::Ending::LineBusy:
        return Tell(tr("其他操作正在使用串口，扫描已停止。"));
    case BusScanner::Ending::PortFailed:
        return Tell(detail.isEmpty() ? tr("串口已关闭，扫描已停止。") : tr("扫描已停止：%1").arg(detail));
    }
}

void TfrmBusScan::ShowRunning(bool running)
{
    m_ui->btnStart->setEnabled(!running);
    m_ui->btnStop->setEnabled(running);
    m_ui->speFrom->setEnabled(!running);
    m_ui->speTo->setEnabled(!running);
    m_ui->speTimeout->setEnabled(!running);
}
