#include "bustools/ProtocolMonitorUnit.h"

#include "device/ModuleSession.h"
#include "io/FileReplacement.h"
#include "io/OperatorError.h"
#include "ui_ProtocolMonitorUnit.h"
#include "widgets/Prompter.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyledItemDelegate>

#include <algorithm>

namespace
{
constexpr int AllAddresses = -1;
constexpr char LineEnd[] = "\r\n";
constexpr qsizetype SaveChunkBytes = 64 * 1024;
constexpr int RowPadding = 4;
const QString SaveSuffix = QStringLiteral("txt");
constexpr int CellMargin = 3;

/// Paints a cell as one line of plain text: the list repaints as it scrolls,
/// ten times a second, and the style's general item painting (icons, check
/// boxes, elision) costs several times more.
class PlainCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const bool selected = option.state & QStyle::State_Selected;
        QColor color;
        if (selected) {
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
            color = option.palette.color(group, QPalette::HighlightedText);
        } else {
            const QVariant foreground = index.data(Qt::ForegroundRole);
            color = foreground.isValid() ? foreground.value<QColor>()
                                         : option.palette.color(group, QPalette::Text);
        }
        const QVariant alignment = index.data(Qt::TextAlignmentRole);
        const int flags = (alignment.isValid() ? alignment.toInt() : int(Qt::AlignLeft | Qt::AlignVCenter)) |
                          Qt::TextSingleLine;
        painter->setPen(color);
        painter->drawText(option.rect.adjusted(CellMargin, 0, -CellMargin, 0), flags,
                          index.data(Qt::DisplayRole).toString());
    }
};
} // namespace

TfrmProtocolMonitor::TfrmProtocolMonitor(ModuleSession &session, QWidget *parent, int capacity)
    : QDialog(parent), m_session(session), m_ui(std::make_unique<Ui::TfrmProtocolMonitor>()),
      m_model(capacity)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    m_filter.setSourceModel(&m_model);

    QTableView *view = m_ui->lvFrames;
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + RowPadding);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setHighlightSections(false);
    view->setItemDelegate(new PlainCellDelegate(view));
    view->setModel(&m_model);
    SizeColumns();

    m_ui->cbbAddressFilter->addItem(tr("全部"), AllAddresses);

    m_timerFlush.setObjectName(QStringLiteral("TimerFlush"));
    m_timerFlush.setInterval(FlushIntervalMs);
    connect(&m_timerFlush, &QTimer::timeout, this, &TfrmProtocolMonitor::TimerFlushTimer);
    connect(m_ui->btnPause, &QPushButton::toggled, this, &TfrmProtocolMonitor::btnPauseClick);
    connect(m_ui->btnClear, &QPushButton::clicked, this, &TfrmProtocolMonitor::btnClearClick);
    connect(m_ui->btnCopy, &QPushButton::clicked, this, &TfrmProtocolMonitor::btnCopyClick);
    connect(m_ui->btnSave, &QPushButton::clicked, this, &TfrmProtocolMonitor::btnSaveClick);
    connect(m_ui->cbbAddressFilter, &QComboBox::currentIndexChanged, this,
            &TfrmProtocolMonitor::cbbAddressFilterChange);
    UpdateCounts();
}

TfrmProtocolMonitor::~TfrmProtocolMonitor()
{
    StopWatching();
}

// --- Watching ----------------------------------------------------------------------

void TfrmProtocolMonitor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Restoring a minimised window goes on with the same list.
    if (!event->spontaneous() && !IsWatching())
        StartWatching();
}

void TfrmProtocolMonitor::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        StopWatching();
}

void TfrmProtocolMonitor::StartWatching()
{
    ClearRows();
    btnPauseClick(false);
    m_decoder.reset();
    m_seen.reset();
    m_listed.reset();
    m_ui->cbbAddressFilter->setCurrentIndex(0);
    while (m_ui->cbbAddressFilter->count() > 1)
        m_ui->cbbAddressFilter->removeItem(1);
    DeviceLink &link = m_session.link();
    m_tapWritten = connect(&link, &DeviceLink::frameWritten, this, &TfrmProtocolMonitor::FrameWritten);
    m_tapRead = connect(&link, &DeviceLink::bytesRead, this, &TfrmProtocolMonitor::BytesRead);
    m_timerFlush.start();
    UpdateCounts();
}

void TfrmProtocolMonitor::StopWatching()
{
    // Unwatched, the link reports nothing and costs nothing.
    disconnect(m_tapWritten);
    disconnect(m_tapRead);
    m_tapWritten = {};
    m_tapRead = {};
    m_timerFlush.stop();
}

TrafficStamp TfrmProtocolMonitor::Now() const
{
    return {m_session.link().openedElapsedMs(), QDateTime::currentMSecsSinceEpoch()};
}

void TfrmProtocolMonitor::FrameWritten(const QByteArray &frame)
{
    const std::size_t first = m_held.size();
    TrafficDecoder::decodeWritten(frame, Now(), m_held);
    CountHeld(first);
}

void TfrmProtocolMonitor::BytesRead(const QByteArray &piece)
{
    const std::size_t first = m_held.size();
    m_decoder.feedRead(piece, Now(), m_held);
    CountHeld(first);
}

void TfrmProtocolMonitor::CountHeld(std::size_t first)
{
    for (std::size_t i = first; i < m_held.size(); ++i) {
        const TrafficRow &row = m_held[i];
        if (row.isFrame()) {
            ++m_frames;
            m_seen.set(row.address);
        } else {
            ++m_unframed;
        }
    }
    // A long pause holds no more than the table could show; the surplus is
    // dropped in bulk, now and then, so holding stays cheap.
    const auto capacity = std::size_t(m_model.capacity());
    if (m_held.size() >= 2 * capacity) {
        const std::size_t surplus = m_held.size() - capacity;
        m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(surplus));
        m_heldDropped += qint64(surplus);
    }
}

void TfrmProtocolMonitor::TimerFlushTimer()
{
    const std::size_t first = m_held.size();
    m_decoder.flushStale(m_session.link().openedElapsedMs(), m_held);
    CountHeld(first);
    if (!m_paused && !m_held.empty()) {
        // Excess held rows would only be dropped by the table.
        const auto capacity = std::size_t(m_model.capacity());
        if (m_held.size() > capacity) {
            const std::size_t surplus = m_held.size() - capacity;
            m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(surplus));
            m_heldDropped += qint64(surplus);
        }
        // Following the newest row, the list scrolls on; read further up,
        // it stays on the rows read, though the oldest ones above are dropped.
        QTableView *view = m_ui->lvFrames;
        const QScrollBar *bar = view->verticalScrollBar();
        const bool atEnd = bar->value() >= bar->maximum();
        const QPersistentModelIndex top = atEnd ? QModelIndex() : view->indexAt(QPoint(0, 0));
        m_model.append(std::move(m_held));
        m_held.clear();
        if (atEnd)
            view->scrollToBottom();
        else if (top.isValid())
            view->scrollTo(top, QAbstractItemView::PositionAtTop);
    }
    AddSeenAddresses();
    UpdateCounts();
}

// --- Controls ----------------------------------------------------------------------

void TfrmProtocolMonitor::btnPauseClick(bool paused)
{
    m_paused = paused;
    m_ui->btnPause->setChecked(paused);
    m_ui->btnPause->setText(paused ? tr("继续") : tr("暂停"));
    UpdateCounts();
}

void TfrmProtocolMonitor::btnClearClick()
{
    ClearRows();
    UpdateCounts();
}

void TfrmProtocolMonitor::ClearRows()
{
    m_model.clear();
    m_held.clear();
    m_heldDropped = 0;
    m_frames = 0;
    m_unframed = 0;
}

void TfrmProtocolMonitor::btnCopyClick()
{
    const QItemSelectionModel *selection = m_ui->lvFrames->selectionModel();
    if (!selection)
        return;
    const bool filtered = m_ui->lvFrames->model() == &m_filter;
    QList<int> rows;
    for (const QModelIndex &index : selection->selectedRows())
        rows << (filtered ? m_filter.mapToSource(index).row() : index.row());
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    lines.reserve(rows.size());
    for (int row : rows)
        lines << m_model.line(m_model.row(row));
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TfrmProtocolMonitor::btnSaveClick()
{
    Guarded(this, [this] {
        const QString name = Prompts().saveFileName(this, tr("文本文件 (*.txt);;所有文件 (*)"), SaveSuffix);
        if (name.isEmpty())
            return;
        FileReplacement file(name);
        if (!file.open())
            throw OperatorError(tr("保存失败：%1").arg(file.errorString()));
        QByteArray chunk;
        const auto write = [&file, &chunk] {
            if (file.device().write(chunk) != chunk.size())
                throw OperatorError(tr("保存失败：%1").arg(file.device().errorString()));
            chunk.clear();
        };
        const auto put = [&](const QString &line) {
            chunk += line.toUtf8();
            chunk += LineEnd;
            if (chunk.size() >= SaveChunkBytes)
                write();
        };
        put(m_model.headerLine());
        for (int row = 0; row < m_model.rowCount(); ++row)
            put(m_model.line(m_model.row(row)));
        for (const TrafficRow &row : m_held)
            put(m_model.line(row));
        write();
        if (!file.commit())
            throw OperatorError(tr("保存失败：%1").arg(file.errorString()));
    });
}

void TfrmProtocolMonitor::cbbAddressFilterChange(int index)
{
    const int address = m_ui->cbbAddressFilter->itemData(index).toInt();
    if (address == AllAddresses) {
        ShowModel(&m_model);
    } else {
        m_filter.setAddress(DeviceAddress(address));
        ShowModel(&m_filter);
    }
}

void TfrmProtocolMonitor::ShowModel(QAbstractItemModel *model)
{
    QTableView *view = m_ui->lvFrames;
    if (view->model() == model)
        return;
    const QByteArray columns = view->horizontalHeader()->saveState();
    view->setModel(model);
    view->horizontalHeader()->restoreState(columns);
    view->scrollToBottom();
}

// --- Display -----------------------------------------------------------------------

void TfrmProtocolMonitor::AddSeenAddresses()
{
    const std::bitset<256> added = m_seen & ~m_listed;
    if (added.none())
        return;
    QComboBox *box = m_ui->cbbAddressFilter;
    const QSignalBlocker quiet(box); // inserting never changes the filter in force
    for (int address = 0; address < int(added.size()); ++address) {
        if (!added.test(std::size_t(address)))
            continue;
        int at = 1;
        while (at < box->count() && box->itemData(at).toInt() < address)
            ++at;
        box->insertItem(at, QString::number(address), address);
    }
    m_listed |= added;
}

void TfrmProtocolMonitor::UpdateCounts()
{
    QString text = tr("帧：%1　无帧字节：%2　列表：%3 行　已丢弃较早的：%4 行")
                       .arg(m_frames)
                       .arg(m_unframed)
                       .arg(m_model.rowCount())
                       .arg(DroppedRows());
    // Frames the program dropped as faulty (the rows marked red are the same frames as seen on the line).
    if (const quint64 faulty = m_session.link().droppedFrames(); faulty > 0)
        text += tr("　丢弃的错误帧：%1").arg(faulty);
    if (m_paused)
        text += tr("　已暂停，%1 行待显示").arg(m_held.size());
    // The status bar paints the text itself: no layout pass per tick.
    m_ui->StatusBar1->showMessage(text);
}

void TfrmProtocolMonitor::SizeColumns()
{
    const QFontMetrics metrics = m_ui->lvFrames->fontMetrics();
    const auto width = [&](const QString &sample) {
        return metrics.horizontalAdvance(sample) + 2 * metrics.averageCharWidth();
    };
    QHeaderView *header = m_ui->lvFrames->horizontalHeader();
    using M = ProtocolMonitorModel;
    header->resizeSection(M::ColTime, width(QStringLiteral("00000000000")));
    header->resizeSection(M::ColClock, width(QStringLiteral("00:00:00.000")));
    header->resizeSection(M::ColDirection, width(tr("接收") + tr("接收")));
    header->resizeSection(M::ColAddress, width(QStringLiteral("0000")));
    header->resizeSection(M::ColCommand, width(QStringLiteral("CmdOutputBoardType")));
    header->resizeSection(M::ColCode, width(QStringLiteral("0000")));
    header->resizeSection(M::ColValue, width(QStringLiteral("-2147483648")));
    header->resizeSection(M::ColRaw, width(QStringLiteral("00 00 00 00 00 00 00 00 00 00")));
    header->resizeSection(M::ColCheck, width(tr("结束符")));
}
