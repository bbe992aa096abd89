#include "parameters/ParamUnit.h"

#include "ui_ParamUnit.h"

#include "parameters/EditParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "parameters/ReadAllParamUnit.h"
#include "parameters/SpecailParamsUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"

#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace
{

constexpr int GridLineAlpha = 110;

/// Draws thin grid lines to the right of and below every cell.
class GridLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        QColor line = option.palette.color(QPalette::Mid);
        line.setAlpha(GridLineAlpha);
        painter->setPen(line);
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};

} // namespace

TfrmParam::TfrmParam(ParameterWindows &windows, QWidget *parent)
    : QDialog(parent), m_windows(windows), m_ui(std::make_unique<Ui::TfrmParam>())
{
    m_ui->setupUi(this);
    // Placed by Qt: centred on its parent's window at every showing the
    // operator has not moved it away from.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);

    QTreeWidget *list = m_ui->lvParam;
    list->setItemDelegate(new GridLineDelegate(list));
    list->header()->setSectionsMovable(false);
    list->header()->setSortIndicatorShown(false);
    list->header()->setSectionsClickable(false);
    list->setColumnWidth(NameColumn, NameColumnWidth);
    list->viewport()->installEventFilter(this);

    m_popupMenu1 = new QMenu(this);
    m_popupMenu1->addAction(m_ui->E1);
    m_popupMenu1->addSeparator();
    m_popupMenu1->addAction(m_ui->R1);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_popupMenu1->popup(m_ui->lvParam->viewport()->mapToGlobal(pos)); });

    connect(m_ui->E1, &QAction::triggered, this, &TfrmParam::E1Click);
    connect(m_ui->R1, &QAction::triggered, this, &TfrmParam::R1Click);
    connect(m_ui->btnEdit, &QPushButton::clicked, this, &TfrmParam::E1Click);
    connect(m_ui->btnReadAllParam, &QPushButton::clicked, this, &TfrmParam::R1Click);
    connect(m_ui->btnSpecialParams, &QPushButton::clicked, this, &TfrmParam::btnSpecialParamsClick);

    FormCreate();
    // Names longer than the column (the English ones) are not cut off.
    list->resizeColumnToContents(NameColumn);
    list->setColumnWidth(NameColumn, std::max(NameColumnWidth, list->columnWidth(NameColumn)));
    m_windows.param = this;
}

TfrmParam::~TfrmParam()
{
    if (m_windows.param == this)
        m_windows.param = nullptr;
}

void TfrmParam::FormCreate()
{
    // One row per catalogue entry, never added to, removed or re-ordered
    // afterwards: the row index is the catalogue index.
    for (const QString &name : ParameterCatalogue::Names())
        new QTreeWidgetItem(m_ui->lvParam, QStringList{name, QString()});
}

bool TfrmParam::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->lvParam->viewport() && event->type() == QEvent::MouseButtonDblClick)
        lvParamDblClick();
    return QDialog::eventFilter(watched, event);
}

QTreeWidget *TfrmParam::lvParam() const
{
    return m_ui->lvParam;
}

int TfrmParam::SelectedIndex() const
{
    const QList<QTreeWidgetItem *> selected = m_ui->lvParam->selectedItems();
    return selected.isEmpty() ? -1 : m_ui->lvParam->indexOfTopLevelItem(selected.first());
}

void TfrmParam::SelectRow(int index)
{
    QTreeWidgetItem *item = m_ui->lvParam->topLevelItem(index);
    if (!item) {
        m_ui->lvParam->clearSelection();
        return;
    }
    m_ui->lvParam->setCurrentItem(item);
    item->setSelected(true);
}

QString TfrmParam::RowCaption(int index) const
{
    const QTreeWidgetItem *item = m_ui->lvParam->topLevelItem(index);
    return item ? item->text(NameColumn) : QString();
}

QString TfrmParam::ValueText(int index) const
{
    const QTreeWidgetItem *item = m_ui->lvParam->topLevelItem(index);
    return item ? item->text(ValueColumn) : QString();
}

void TfrmParam::SetValueText(int index, const QString &text)
{
    if (QTreeWidgetItem *item = m_ui->lvParam->topLevelItem(index))
        item->setText(ValueColumn, text);
}

void TfrmParam::SetSpecialParamsEnabled(bool enabled)
{
    m_ui->btnSpecialParams->setEnabled(enabled);
}

bool TfrmParam::SpecialParamsEnabled() const
{
    return m_ui->btnSpecialParams->isEnabled();
}

void TfrmParam::lvParamDblClick()
{
    E1Click();
}

void TfrmParam::E1Click()
{
    TfrmEditParam *editor = m_windows.edit;
    if (SelectedIndex() < 0 || !editor)
        return;
    Guarded(this, [editor] { ShowModal(editor); });
}

void TfrmParam::R1Click()
{
    TfrmReadAllParam *readAll = m_windows.readAll;
    if (!readAll)
        return;
    Guarded(this, [readAll] { ShowModal(readAll); });
}

void TfrmParam::btnSpecialParamsClick()
{
    TfrmSpecialParams *special = m_windows.special;
    if (!special)
        return;
    Guarded(this, [special] { ShowModal(special); });
}
