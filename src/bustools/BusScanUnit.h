#pragma once
// The bus scan window: asks every address of a range which module is there
// and lists the modules that answered, with their measured value and answer
// time, and the bus conflicts seen on the way. A listed module can be made
// the current one. The window is not modal: the operator may keep it open
// while working in the main window.

#include "device/BusScanner.h"

#include <QDialog>

#include <memory>

class ModuleSession;
class QTreeWidgetItem;

namespace Ui
{
class TfrmBusScan;
}

class TfrmBusScan : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmBusScan(ModuleSession &session, QWidget *parent = nullptr);
    ~TfrmBusScan() override;

    Ui::TfrmBusScan *ui() const { return m_ui.get(); }
    BusScanner &scanner() { return m_scanner; }

public slots:
    void btnStartClick();
    void btnStopClick();
    /// Makes the module of the selected row the current one.
    void btnUseClick();
    void lvModulesDblClick(QTreeWidgetItem *item);
    /// Hands every module found to the watch.
    void btnWatchClick();

    /// Closing the window stops a scan in progress.
    void reject() override;

signals:
    void addToWatch(const QList<DeviceAddress> &addresses);

private:
    void ScanListening();
    void ScanAsking(DeviceAddress address, int index, int count);
    void ScanFound(const BusScanFinding &finding);
    void ScanConflict(DeviceAddress asked, DeviceAddress answered, bool late);
    void ScanFinished(BusScanner::Ending ending, const QString &detail);
    void ShowRunning(bool running);
    void UseAddress(DeviceAddress address);
    /// Shows `text` in the window and in a message box.
    void Tell(const QString &text);

    ModuleSession &m_session;
    std::unique_ptr<Ui::TfrmBusScan> m_ui;
    BusScanner m_scanner;
};
