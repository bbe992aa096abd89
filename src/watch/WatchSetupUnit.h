#pragma once
// The setup of the watch: the modules (address, name, decimals, unit, whether
// charted, limits), the computed channels (kind, members, name, unit, limits)
// and the polling figures. The operator types into the tables; OK checks
// every row and names the first one that cannot be used, keeping the dialog
// open, so a watch is only ever set up from sound rows.

#include "device/WatchConfig.h"

#include <QDialog>

#include <memory>

namespace Ui
{
class TfrmWatchSetup;
}

class TfrmWatchSetup : public QDialog
{
    Q_OBJECT
public:
    enum ModuleColumn { ColAddress, ColName, ColDecimals, ColUnit, ColCharted, ColLow, ColHigh, ModuleColumns };
    enum ChannelColumn { ColKind, ColMembers, ColChannelName, ColChannelUnit, ColChannelLow, ColChannelHigh,
                         ChannelColumns };

    /// `decimals` and `unit`: what a new module gets (the program's own display settings).
    TfrmWatchSetup(const WatchConfig &config, int decimals, const QString &unit, QWidget *parent = nullptr);
    ~TfrmWatchSetup() override;

    Ui::TfrmWatchSetup *ui() const { return m_ui.get(); }
    /// The watch as set up; valid after accept().
    const WatchConfig &config() const { return m_config; }

    /// Reads the tables into a watch; false with the reason in `error`.
    bool ReadTables(WatchConfig &config, QString &error) const;

public slots:
    void btnAddModuleClick();
    void btnRemoveModuleClick();
    void btnCurrentFormatClick();
    void btnAddChannelClick();
    void btnRemoveChannelClick();
    void accept() override;

private:
    void AddModuleRow(const WatchModule &module, const ChannelLimits &limits);
    void AddChannelRow(const WatchChannelConfig &channel, const ChannelLimits &limits);

    std::unique_ptr<Ui::TfrmWatchSetup> m_ui;
    WatchConfig m_config;
    int m_decimals;
    QString m_unit;
};
