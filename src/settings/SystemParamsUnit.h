#pragma once
// The system-parameters dialog "显示参数": edits the number of decimals, the
// engineering unit, the chart's Y range, the reading interval and the baud
// rate, and on OK stores all of them and applies them to the main window at
// once. Closing it with the close box stores and applies nothing.

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui
{
class TfrmSystemParams;
}

class TfrmSystemParams : public QDialog
{
    Q_OBJECT
public:
    static constexpr int DecimalMin = 0;
    static constexpr int DecimalMax = 4;
    static constexpr double ReadIntervalMin = 20;         // ms
    static constexpr double ReadIntervalMax = 1000000000; // ms

    explicit TfrmSystemParams(QWidget *parent = nullptr);
    ~TfrmSystemParams() override;

    /// The baud rates offered by cbxBaud, in their order.
    static QStringList BaudRates();
    /// The error text for a baud text that is not a whole number.
    static QString NotAnIntegerText(const QString &text);

    Ui::TfrmSystemParams *ui() const { return m_ui.get(); }

public slots:
    /// Fills the controls from the main window's current settings.
    void FormShow();
    /// Stores and applies the six settings, then closes the dialog. A baud
    /// text that is not a number, or a port that cannot be reopened, is
    /// reported and leaves the dialog open.
    void btnOKClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void StoreAndApply();

    std::unique_ptr<Ui::TfrmSystemParams> m_ui;
    QString m_writeError; ///< why the last settings write failed; empty when it succeeded
};

/// The system-parameters dialog (one per run).
extern TfrmSystemParams *frmSystemParams;
