#pragma once
// The access-code dialog in front of the parameter windows.

#include "parameters/ParameterWindows.h"

#include <QDialog>

#include <memory>

namespace Ui
{
class TfrmPassword;
}

/// The code typed when the access-code dialog was last confirmed with OK.
extern QString EnteredCode;

class TfrmPassword : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPassword(ParameterWindows &windows, QWidget *parent = nullptr);
    ~TfrmPassword() override;

    Ui::TfrmPassword *ui() const { return m_ui.get(); }

public slots:
    /// Empties the code field and gives it the focus.
    void FormShow();
    /// Takes the code exactly as typed and closes with OK.
    void btnOKClick();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ParameterWindows &m_windows;
    std::unique_ptr<Ui::TfrmPassword> m_ui;
};
