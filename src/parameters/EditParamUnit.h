#pragma once
// Reads or writes one general parameter: the row selected in the parameter
// list gives the name, the value shown and the command code (row + 2).

#include "parameters/ParameterWindows.h"

#include <QDialog>

#include <memory>

class ModuleSession;

namespace Ui
{
class TfrmEditParam;
}

class TfrmEditParam : public QDialog
{
    Q_OBJECT
public:
    TfrmEditParam(ParameterWindows &windows, ModuleSession &session, QWidget *parent = nullptr);
    ~TfrmEditParam() override;

    /// Text of the status bar: the result of the last read or write.
    QString StatusText() const;
    Ui::TfrmEditParam *ui() const { return m_ui.get(); }

public slots:
    /// Caption and value from the selected row; focus on the value.
    void FormShow();
    void btnReadClick();
    void btnWriteClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void SetStatusText(const QString &text);

    ParameterWindows &m_windows;
    ModuleSession &m_session;
    std::unique_ptr<Ui::TfrmEditParam> m_ui;
};
