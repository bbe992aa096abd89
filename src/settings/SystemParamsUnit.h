#pragma once
// The system-parameters dialog "显示参数": edits the number of decimals, the
// engineering unit, the chart's Y range, the reading interval and the baud
// rate, and on OK stores all of them and applies them to the module session
// at once. Closing it with the close box stores and applies nothing.

#include <QDialog>
#include <QStringList>

#include <memory>

class ModuleSession;
class ValueDisplay;
class SettingsStore;

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

    /// The settings in force are `session`'s; they are stored in `settings`.
    /// Both must outlive the dialog.
    TfrmSystemParams(ModuleSession &session, SettingsStore &settings, ValueDisplay &display, QWidget *parent = nullptr);
    ~TfrmSystemParams() override;

    /// The baud rates offered by cbxBaud, in their order.
    static QStringList BaudRates();
    /// The error text for a baud text that is not a whole number.
    static QString NotAnIntegerText(const QString &text);

    Ui::TfrmSystemParams *ui() const { return m_ui.get(); }

public slots:
    /// Fills the controls from the session's current settings.
    void FormShow();
    /// Stores and applies the six settings, then closes the dialog. A baud
    /// text that is not a number, or a port that cannot be reopened, is
    /// reported and leaves the dialog open.
    void btnOKClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void StoreAndApply();

    ModuleSession &m_session;
    ValueDisplay &m_display;
    SettingsStore &m_settings;
    std::unique_ptr<Ui::TfrmSystemParams> m_ui;
    QString m_writeError; ///< why the last settings write failed; empty when it succeeded
};
