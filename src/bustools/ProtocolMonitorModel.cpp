#include "bustools/ProtocolMonitorModel.h"

#include <QColor>
#include <QDateTime>

namespace
{
const QString ClockFormat = QStringLiteral("HH:mm:ss.zzz");
constexpr QChar Tab = QLatin1Char('\t');
} // namespace

ProtocolMonitorModel::ProtocolMonitorModel(int capacity, QObject *parent)
    : QAbstractTableModel(parent), m_capacity(std::max(capacity, 1))
{
}

int ProtocolMonitorModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int ProtocolMonitorModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const TrafficRow &ProtocolMonitorModel::row(int index) const
{
    return m_ring[std::size_t((m_head + index) % m_capacity)];
}

QVariant ProtocolMonitorModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_count)
        return {};
    const TrafficRow &r = row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return text(r, index.column());
    case Qt::TextAlignmentRole:
        if (index.column() == ColTime || index.column() == ColAddress || index.column() == ColCode ||
            index.column() == ColValue)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::ForegroundRole:
        // A line fault stands out: bytes outside any frame, a wrong check byte or end.
        if (!r.isFrame() || !r.checkOk || !r.endOk)
            return QColor(Qt::red);
        return {};
    default:
        return {};
    }
}

QVariant ProtocolMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColTime:
        return tr("时间(ms)");
    case ColClock:
        return tr("时刻");
    case ColDirection:
        return tr("方向");
    case ColAddress:
        return tr("地址");
    case ColCommand:
        return tr("命令");
    case ColCode:
        return tr("代码");
    case ColValue:
        return tr("值");
    case ColRaw:
        return tr("原始字节");
    case ColCheck:
        return tr("校验");
    case ColEnd:
        return tr("结束符");
    default:
        return {};
    }
}

QString ProtocolMonitorModel::text(const TrafficRow &r, int column) const
{
    const auto okText = [this](bool ok) { return ok ? tr("正确") : tr("错误"); };
    switch (column) {
    case ColTime:
        return QString::number(r.stamp.sinceOpenMs);
    case ColClock:
        return QDateTime::fromMSecsSinceEpoch(r.stamp.wallMs).toString(ClockFormat);
    case ColDirection:
        return r.direction == TrafficRow::Direction::Sent ? tr("发送") : tr("接收");
    case ColAddress:
        return r.isFrame() ? QString::number(r.address) : QString();
    case ColCommand:
        if (!r.isFrame())
            return tr("无帧字节");
        if (const QString name = CommandName(r.command); !name.isEmpty())
            return name;
        return tr("未知命令");
    case ColCode:
        return r.isFrame() ? QString::number(r.command) : QString();
    case ColValue:
        return r.hasValue() ? QString::number(r.value) : QString();
    case ColRaw:
        return HexBytes(r.raw);
    case ColCheck:
        return r.isFrame() ? okText(r.checkOk) : QString();
    case ColEnd:
        return r.isFrame() ? okText(r.endOk) : QString();
    default:
        return {};
    }
}

QString ProtocolMonitorModel::headerLine() const
{
    QString line;
    for (int column = 0; column < ColumnCount; ++column) {
        if (column > 0)
            line += Tab;
        line += headerData(column, Qt::Horizontal).toString();
    }
    return line;
}

QString ProtocolMonitorModel::line(const TrafficRow &r) const
{
    QString line;
    for (int column = 0; column < ColumnCount; ++column) {
        if (column > 0)
            line += Tab;
        line += text(r, column);
    }
    return line;
}

void ProtocolMonitorModel::append(TrafficRows &&rows)
{
    if (rows.empty())
        return;
    // Rows of the batch beyond the capacity would be dropped at once.
    const auto excess = qsizetype(rows.size()) - m_capacity;
    const std::size_t first = excess > 0 ? std::size_t(excess) : 0;
    if (excess > 0)
        m_dropped += excess;
    const int added = int(rows.size() - first);

    const int overflow = m_count + added - m_capacity;
    if (overflow > 0) {
        beginRemoveRows({}, 0, overflow - 1);
        m_head = (m_head + overflow) % m_capacity;
        m_count -= overflow;
        m_dropped += overflow;
        endRemoveRows();
    }

    beginInsertRows({}, m_count, m_count + added - 1);
    for (std::size_t i = first; i < rows.size(); ++i) {
        const auto slot = std::size_t((m_head + m_count) % m_capacity);
        if (slot == m_ring.size())
            m_ring.push_back(std::move(rows[i]));
        else
            m_ring[slot] = std::move(rows[i]);
        ++m_count;
    }
    endInsertRows();
}

void ProtocolMonitorModel::clear()
{
    beginResetModel();
    m_ring.clear();
    m_head = 0;
    m_count = 0;
    m_dropped = 0;
    endResetModel();
}

void AddressFilterModel::setAddress(DeviceAddress address)
{
    m_address = address;
    invalidateFilter();
}

bool AddressFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const auto *monitor = static_cast<const ProtocolMonitorModel *>(sourceModel());
    const TrafficRow &row = monitor->row(sourceRow);
    return row.isFrame() && row.address == m_address;
}
