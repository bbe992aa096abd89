#pragma once
// Reads or writes one general parameter: the row selected in the parameter
// list gives the name, the value shown and the command code (row + 2).

#include "device/ParameterRun.h"
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
    /// A read or write is on its way (its outcome not yet in).
    bool Busy() const { return m_run.isRunning(); }
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
    /// Reads or writes the parameter of row m_row.
    void StartRun(ParameterRun::Mode mode, std::int32_t value);
    void CodeDone(bool answered, std::int32_t value);
    void RunFinished(const QString &error);
    void SetButtonsEnabled(bool enabled);

    ParameterWindows &m_windows;
    ModuleSession &m_session;
    std::unique_ptr<Ui::TfrmEditParam> m_ui;
    ParameterRun m_run;
    int m_row = -1;         ///< the row being read or written
    bool m_writing = false; ///< a write (else a read)
    QString m_typed;        ///< the text being written, as typed
};
