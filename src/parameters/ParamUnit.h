#pragma once
// The general parameter list: the 21 parameters of the catalogue with their
// last known values, and the ways into the editor, the read-all run and the
// special parameters. The list itself never talks to the module.

#include "parameters/ParameterWindows.h"

#include <QDialog>

#include <memory>

class QMenu;
class QTreeWidget;

namespace Ui
{
class TfrmParam;
}

class TfrmParam : public QDialog
{
    Q_OBJECT
public:
    static constexpr int NameColumn = 0;
    static constexpr int ValueColumn = 1;
    static constexpr int NameColumnWidth = 180;

    explicit TfrmParam(ParameterWindows &windows, QWidget *parent = nullptr);
    ~TfrmParam() override;

    QTreeWidget *lvParam() const;
    /// Index of the selected row (= catalogue index), -1 when none is selected.
    int SelectedIndex() const;
    /// Selects row `index` (-1 clears the selection).
    void SelectRow(int index);
    /// Caption (parameter name) of row `index`.
    QString RowCaption(int index) const;
    /// Value column of row `index`: the last value read or written, as text.
    QString ValueText(int index) const;
    void SetValueText(int index, const QString &text);

    /// Enabled state of "特殊参数(&S)", set by the access gate before each
    /// showing.
    void SetSpecialParamsEnabled(bool enabled);
    bool SpecialParamsEnabled() const;

    QMenu *popupMenu() const { return m_popupMenu1; }
    Ui::TfrmParam *ui() const { return m_ui.get(); }

public slots:
    void lvParamDblClick();
    /// Editor on the selected row; nothing when no row is selected.
    void E1Click();
    void R1Click();
    void btnSpecialParamsClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();

    ParameterWindows &m_windows;
    std::unique_ptr<Ui::TfrmParam> m_ui;
    QMenu *m_popupMenu1 = nullptr;
};
