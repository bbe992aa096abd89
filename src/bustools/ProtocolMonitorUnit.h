#pragma once
// The protocol monitor "协议监视器": lists every frame the program sends and
// receives while it is open (the traffic of every window, taken from the
// module session's device link), with the bytes that belong to no frame as
// rows of their own. It only watches: it never writes to a module.
//
// Rows wait in a holding list and enter the table in one batch per flush
// tick. Pause stops the table (it can be scrolled and copied from) while
// frames go on being counted and held; going on adds the held rows. The table
// keeps the newest `capacity` rows and counts the older ones it drops, as
// does the holding list during a long pause.
//
// Use: construct once with the session, show() to start watching (the list
// starts empty); closing stops watching.

#include "bustools/ProtocolMonitorModel.h"
#include "device/TrafficDecoder.h"

#include <QDialog>
#include <QTimer>

#include <bitset>
#include <memory>

class ModuleSession;

namespace Ui
{
class TfrmProtocolMonitor;
}

class TfrmProtocolMonitor : public QDialog
{
    Q_OBJECT
public:
    /// How often held rows enter the table.
    static constexpr int FlushIntervalMs = 100;

    /// `session` must outlive the window. `capacity`: rows the table keeps.
    explicit TfrmProtocolMonitor(ModuleSession &session, QWidget *parent = nullptr,
                                 int capacity = ProtocolMonitorModel::DefaultCapacity);
    ~TfrmProtocolMonitor() override;

    Ui::TfrmProtocolMonitor *ui() const { return m_ui.get(); }
    ProtocolMonitorModel &model() { return m_model; }

    bool IsWatching() const { return bool(m_tapWritten); }
    bool IsPaused() const { return m_paused; }
    /// Frames (both directions) and unframed rows seen since the list was
    /// opened or cleared, whether shown yet or not.
    qint64 FramesCounted() const { return m_frames; }
    qint64 UnframedCounted() const { return m_unframed; }
    /// Rows waiting to enter the table (while paused, or until the next tick).
    int HeldRows() const { return int(m_held.size()); }
    /// Older rows dropped to keep within the capacity.
    qint64 DroppedRows() const { return m_model.dropped() + m_heldDropped; }

public slots:
    void btnPauseClick(bool paused);
    void btnClearClick();
    /// The selected rows, tab-separated, to the clipboard.
    void btnCopyClick();
    /// Every row (the table's and the held ones) to a tab-separated text file.
    void btnSaveClick();
    void cbbAddressFilterChange(int index);
    /// Moves the held rows into the table (unless paused).
    void TimerFlushTimer();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void StartWatching();
    void StopWatching();
    void ClearRows();
    void FrameWritten(const QByteArray &frame);
    void BytesRead(const QByteArray &piece);
    TrafficStamp Now() const;
    /// Counts the held rows from `first` on and bounds the holding list.
    void CountHeld(std::size_t first);
    void AddSeenAddresses();
    void UpdateCounts();
    void ShowModel(QAbstractItemModel *model);
    void SizeColumns();

    ModuleSession &m_session;
    std::unique_ptr<Ui::TfrmProtocolMonitor> m_ui;
    ProtocolMonitorModel m_model;
    AddressFilterModel m_filter;
    TrafficDecoder m_decoder;
    TrafficRows m_held;
    qint64 m_heldDropped = 0;
    qint64 m_frames = 0;
    qint64 m_unframed = 0;
    std::bitset<256> m_seen;   ///< addresses seen in frames
    std::bitset<256> m_listed; ///< addresses offered by cbbAddressFilter
    bool m_paused = false;
    QTimer m_timerFlush;
    QMetaObject::Connection m_tapWritten;
    QMetaObject::Connection m_tapRead;
};
