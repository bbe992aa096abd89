#include "watch/WatchSetupUnit.h"

#include "device/ModuleSession.h"
#include "ui_WatchSetupUnit.h"
#include "widgets/Prompter.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <set>

namespace
{
namespace Keys = SettingsKeys;
constexpr int LimitDigits = 15;

QString LimitText(const std::optional<double> &limit)
{
    return limit ? QString::number(*limit, 'g', LimitDigits) : QString();
}

QString KindText(ComputedChannel::Kind kind)
{
    switch (kind) {
    case ComputedChannel::Kind::Sum:
        return TfrmWatchSetup::tr("合计");
    case ComputedChannel::Kind::Mean:
        return TfrmWatchSetup::tr("平均");
    case ComputedChannel::Kind::Difference:
        return TfrmWatchSetup::tr("差值（第一减第二）");
    }
    return {};
}

QString Cell(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text().trimmed() : QString();
}

/// A limit cell: empty for none; a number in either notation ("." or the locale's).
bool ReadLimit(const QString &text, std::optional<double> &limit)
{
    limit.reset();
    if (text.isEmpty())
        return true;
    bool ok = false;
    double value = text.toDouble(&ok);
    if (!ok)
        value = QLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return false;
    limit = value;
    return true;
}
} // namespace

TfrmWatchSetup::TfrmWatchSetup(const WatchConfig &config, int decimals, const QString &unit, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TfrmWatchSetup>()), m_config(config), m_decimals(decimals),
      m_unit(unit)
{
    m_ui->setupUi(this);
    m_ui->tblModules->setColumnCount(ModuleColumns);
    m_ui->tblModules->setHorizontalHeaderLabels(
        {tr("地址"), tr("名称"), tr("小数位"), tr("单位"), tr("绘图"), tr("下限"), tr("上限")});
    m_ui->tblChannels->setColumnCount(ChannelColumns);
    m_ui->tblChannels->setHorizontalHeaderLabels(
        {tr("类型"), tr("成员（模块序号，逗号分隔）"), tr("名称"), tr("单位"), tr("下限"), tr("上限")});
    for (QTableWidget *table : {m_ui->tblModules, m_ui->tblChannels})
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_ui->speTimeout->setLimits(Keys::WatchTimeout.minimum, Keys::WatchTimeout.maximum);
    m_ui->speTimeout->setClampedValue(config.timeoutMs);
    m_ui->speLostAfter->setLimits(Keys::WatchLostAfter.minimum, Keys::WatchLostAfter.maximum);
    m_ui->speLostAfter->setClampedValue(config.lostAfter);
    m_ui->speLostRetry->setLimits(Keys::WatchLostRetry.minimum, Keys::WatchLostRetry.maximum);
    m_ui->speLostRetry->setClampedValue(config.lostRetry);

    auto limitsOf = [&config](const QString &name) {
        for (const WatchLimitConfig &limit : config.limits)
            if (limit.channel == name)
                return limit.limits;
        return ChannelLimits{};
    };
    for (const WatchModule &module : config.modules)
        AddModuleRow(module, limitsOf(module.name));
    for (const WatchChannelConfig &channel : config.channels)
        AddChannelRow(channel, limitsOf(channel.name));

    connect(m_ui->btnAddModule, &QPushButton::clicked, this, &TfrmWatchSetup::btnAddModuleClick);
    connect(m_ui->btnRemoveModule, &QPushButton::clicked, this, &TfrmWatchSetup::btnRemoveModuleClick);
    connect(m_ui->btnCurrentFormat, &QPushButton::clicked, this, &TfrmWatchSetup::btnCurrentFormatClick);
    connect(m_ui->btnAddChannel, &QPushButton::clicked, this, &TfrmWatchSetup::btnAddChannelClick);
    connect(m_ui->btnRemoveChannel, &QPushButton::clicked, this, &TfrmWatchSetup::btnRemoveChannelClick);
    connect(m_ui->bbxButtons, &QDialogButtonBox::accepted, this, &TfrmWatchSetup::accept);
    connect(m_ui->bbxButtons, &QDialogButtonBox::rejected, this, &TfrmWatchSetup::reject);
}

TfrmWatchSetup::~TfrmWatchSetup() = default;

void TfrmWatchSetup::AddModuleRow(const WatchModule &module, const ChannelLimits &limits)
{
    QTableWidget *table = m_ui->tblModules;
    const int row = table->rowCount();
    table->insertRow(row);
    const QStringList texts{QString::number(module.address), module.name, QString::number(module.decimals),
                            module.unit, QString(), LimitText(limits.low), LimitText(limits.high)};
    for (int column = 0; column < ModuleColumns; ++column)
        table->setItem(row, column, new QTableWidgetItem(texts[column]));
    QTableWidgetItem *charted = table->item(row, ColCharted);
    charted->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    charted->setCheckState(module.charted ? Qt::Checked : Qt::Unchecked);
}

void TfrmWatchSetup::AddChannelRow(const WatchChannelConfig &channel, const ChannelLimits &limits)
{
    QTableWidget *table = m_ui->tblChannels;
    const int row = table->rowCount();
    table->insertRow(row);
    auto *kind = new QComboBox(table);
    kind->setAccessibleName(tr("类型"));
    for (ComputedChannel::Kind k :
         {ComputedChannel::Kind::Sum, ComputedChannel::Kind::Mean, ComputedChannel::Kind::Difference})
        kind->addItem(KindText(k), int(k));
    kind->setCurrentIndex(kind->findData(int(channel.kind)));
    table->setCellWidget(row, ColKind, kind);
    QStringList members;
    for (int member : channel.members)
        members << QString::number(member + 1);
    const QStringList texts{QString(), members.join(u','), channel.name, channel.unit, LimitText(limits.low),
                            LimitText(limits.high)};
    for (int column = ColMembers; column < ChannelColumns; ++column)
        table->setItem(row, column, new QTableWidgetItem(texts[column]));
}

void TfrmWatchSetup::btnAddModuleClick()
{
    // The next address after the last row's: modules on a line are mostly numbered in a row.
    int address = 1;
    for (int row = 0; row < m_ui->tblModules->rowCount(); ++row)
        address = std::max(address, Cell(m_ui->tblModules, row, ColAddress).toInt() + 1);
    address = std::min(address, int(ModuleSession::AddressMax));
    WatchModule module;
    module.address = DeviceAddress(address);
    module.name = tr("模块 %1").arg(address);
    module.decimals = m_decimals;
    module.unit = m_unit;
    AddModuleRow(module, {});
    m_ui->tblModules->setCurrentCell(m_ui->tblModules->rowCount() - 1, ColName);
}

void TfrmWatchSetup::btnRemoveModuleClick()
{
    const int row = m_ui->tblModules->currentRow();
    if (row >= 0)
        m_ui->tblModules->removeRow(row);
}

void TfrmWatchSetup::btnCurrentFormatClick()
{
    // The selected rows, or every row when none is selected.
    QList<int> rows;
    for (const QModelIndex &index : m_ui->tblModules->selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty())
        for (int row = 0; row < m_ui->tblModules->rowCount(); ++row)
            rows << row;
    for (int row : rows) {
        m_ui->tblModules->item(row, ColDecimals)->setText(QString::number(m_decimals));
        m_ui->tblModules->item(row, ColUnit)->setText(m_unit);
    }
}

void TfrmWatchSetup::btnAddChannelClick()
{
    WatchChannelConfig channel;
    for (int row = 0; row < m_ui->tblModules->rowCount(); ++row)
        channel.members << row;
    channel.name = tr("合计");
    channel.unit = m_unit;
    AddChannelRow(channel, {});
}

void TfrmWatchSetup::btnRemoveChannelClick()
{
    const int row = m_ui->tblChannels->currentRow();
    if (row >= 0)
        m_ui->tblChannels->removeRow(row);
}

bool TfrmWatchSetup::ReadTables(WatchConfig &config, QString &error) const
{
    config = m_config;
    config.modules.clear();
    config.channels.clear();
    config.limits.clear();
    config.timeoutMs = m_ui->speTimeout->clampedValue();
    config.lostAfter = m_ui->speLostAfter->clampedValue();
    config.lostRetry = m_ui->speLostRetry->clampedValue();
    std::set<int> addresses;
    QStringList names;
    auto addLimits = [&](const QString &name, const QString &lowText, const QString &highText,
                         const QString &where) {
        WatchLimitConfig limit{name, {}};
        if (!ReadLimit(lowText, limit.limits.low) || !ReadLimit(highText, limit.limits.high)) {
            error = tr("%1：下限和上限须为数字或留空。").arg(where);
            return false;
        }
        if (limit.limits.low || limit.limits.high)
            config.limits << limit;
        return true;
    };
    auto addName = [&](const QString &name, const QString &where) {
        if (name.isEmpty()) {
            error = tr("%1：名称不能为空。").arg(where);
            return false;
        }
        if (names.contains(name)) {
            error = tr("%1：名称“%2”已有，每个模块和通道须有自己的名称。").arg(where, name);
            return false;
        }
        names << name;
        return true;
    };

    const QTableWidget *modules = m_ui->tblModules;
    if (modules->rowCount() > Keys::WatchModulesMax) {
        error = tr("最多监视 %1 个模块。").arg(Keys::WatchModulesMax);
        return false;
    }
    for (int row = 0; row < modules->rowCount(); ++row) {
        const QString where = tr("模块第 %1 行").arg(row + 1);
        bool ok = false;
        const int address = Cell(modules, row, ColAddress).toInt(&ok);
        if (!ok || address < 1 || address > ModuleSession::AddressMax) {
            error = tr("%1：地址须为 1 到 %2 之间的整数。").arg(where).arg(ModuleSession::AddressMax);
            return false;
        }
        if (!addresses.insert(address).second) {
            error = tr("%1：地址 %2 已在列表中。").arg(where).arg(address);
            return false;
        }
        const int decimals = Cell(modules, row, ColDecimals).toInt(&ok);
        if (!ok || decimals < Keys::Decimal.minimum || decimals > Keys::Decimal.maximum) {
            error = tr("%1：小数位须为 %2 到 %3 之间的整数。")
                        .arg(where)
                        .arg(Keys::Decimal.minimum)
                        .arg(Keys::Decimal.maximum);
            return false;
        }
        WatchModule module;
        module.address = DeviceAddress(address);
        module.name = WatchConfig::CleanName(Cell(modules, row, ColName));
        module.decimals = decimals;
        module.unit = WatchConfig::CleanName(Cell(modules, row, ColUnit));
        module.charted = modules->item(row, ColCharted)->checkState() == Qt::Checked;
        if (!addName(module.name, where) ||
            !addLimits(module.name, Cell(modules, row, ColLow), Cell(modules, row, ColHigh), where))
            return false;
        config.modules << module;
    }

    const QTableWidget *channels = m_ui->tblChannels;
    if (channels->rowCount() > Keys::WatchChannelsMax) {
        error = tr("最多 %1 个计算通道。").arg(Keys::WatchChannelsMax);
        return false;
    }
    for (int row = 0; row < channels->rowCount(); ++row) {
        const QString where = tr("计算通道第 %1 行").arg(row + 1);
        WatchChannelConfig channel;
        channel.kind =
            ComputedChannel::Kind(static_cast<QComboBox *>(channels->cellWidget(row, ColKind))->currentData().toInt());
        for (const QString &text : Cell(channels, row, ColMembers).split(u',', Qt::SkipEmptyParts)) {
            bool ok = false;
            const int number = text.trimmed().toInt(&ok);
            if (!ok || number < 1 || number > config.modules.size()) {
                error = tr("%1：成员须为模块的序号（1 到 %2），以逗号分隔。").arg(where).arg(config.modules.size());
                return false;
            }
            if (!channel.members.contains(number - 1))
                channel.members << number - 1;
        }
        const qsizetype needed = channel.kind == ComputedChannel::Kind::Difference ? 2 : 1;
        if (channel.members.size() < needed) {
            error = channel.kind == ComputedChannel::Kind::Difference
                        ? tr("%1：差值须有两个成员。").arg(where)
                        : tr("%1：至少须有一个成员。").arg(where);
            return false;
        }
        channel.name = WatchConfig::CleanName(Cell(channels, row, ColChannelName));
        channel.unit = WatchConfig::CleanName(Cell(channels, row, ColChannelUnit));
        if (!addName(channel.name, where) ||
            !addLimits(channel.name, Cell(channels, row, ColChannelLow), Cell(channels, row, ColChannelHigh), where))
            return false;
        config.channels << channel;
    }
    return true;
}

void TfrmWatchSetup::accept()
{
    QString error;
    if (!ReadTables(m_config, error))
        return Prompts().showError(this, error);
    QDialog::accept();
}
