#pragma once
// The rows of the protocol monitor: a ring of at most `capacity` traffic rows,
// oldest first; appending beyond it drops the oldest rows and counts them.
// Rows are appended in batches, one insertion per batch, so a busy line costs
// the views one update per batch, not one per frame.

#include "device/TrafficDecoder.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

class ProtocolMonitorModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColTime,      ///< milliseconds since the port opened
        ColClock,     ///< wall-clock time
        ColDirection, ///< 发送 / 接收
        ColAddress,
        ColCommand, ///< name from the command table
        ColCode,    ///< command code
        ColValue,
        ColRaw, ///< the bytes in hex
        ColCheck,
        ColEnd,
        ColumnCount
    };

    static constexpr int DefaultCapacity = 100000;

    explicit ProtocolMonitorModel(int capacity = DefaultCapacity, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// Appends `rows` (oldest first) as one insertion; the oldest rows beyond
    /// the capacity are dropped and counted.
    void append(TrafficRows &&rows);
    void clear();

    const TrafficRow &row(int index) const;
    int capacity() const { return m_capacity; }
    /// Rows dropped to keep within the capacity since the last clear().
    qint64 dropped() const { return m_dropped; }

    /// The text of one cell, as shown and as saved.
    QString text(const TrafficRow &row, int column) const;
    /// The column titles, tab-separated.
    QString headerLine() const;
    /// One row's cells, tab-separated.
    QString line(const TrafficRow &row) const;

private:
    int m_capacity;
    std::vector<TrafficRow> m_ring; ///< grows to the capacity, then is reused
    int m_head = 0;                 ///< index in m_ring of the oldest row
    int m_count = 0;
    qint64 m_dropped = 0;
};

/// Shows only the frames to or from one address.
class AddressFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setAddress(DeviceAddress address);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    DeviceAddress m_address = 0;
};
