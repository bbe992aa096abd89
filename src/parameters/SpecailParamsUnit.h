#pragma once
// The special-parameters dialog: reads the module's special parameters
// (commands 25..45) every time it is shown, lets the operator edit them on
// four pages and writes them back in one run.

#include "device/ParameterRun.h"
#include "device/Protocol.h"
#include "parameters/ParameterWindows.h"
#include "parameters/SpecialParamMap.h"

#include <QDialog>
#include <QEvent>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QGroupBox;
class QStatusBar;
class ModuleSession;
class NumericEdit;

namespace Ui
{
class TfrmSpecialParams;
}

/// The message a showing posts to the dialog itself to start its read
/// (WM_USER + 1235): the read runs from the modal loop, once the dialog is on
/// screen and modal, not inside the show event.
inline constexpr QEvent::Type WM_SPECIALPARAMS_START = QEvent::Type(2259);

/// Item index access to a group box of radio buttons (a radio group): the
/// buttons in the order they were created are the items; -1 = none selected.
/// Every change of the selected item, by the operator or by the program,
/// runs the change handler once.
class RadioGroupIndex
{
public:
    explicit RadioGroupIndex(QGroupBox *group);
    ~RadioGroupIndex();

    int count() const { return int(m_buttons.size()); }
    int itemIndex() const;
    /// Selects item `index`; -1 (or any negative index) clears the selection;
    /// an index past the last item selects the last item.
    void setItemIndex(int index);
    void setOnChange(std::function<void()> handler) { m_onChange = std::move(handler); }
    QGroupBox *group() const { return m_group; }
    QAbstractButton *button(int index) const;

private:
    void notifyIfChanged();

    QGroupBox *m_group = nullptr;
    std::unique_ptr<QButtonGroup> m_buttonGroup;
    std::vector<QAbstractButton *> m_buttons;
    std::function<void()> m_onChange;
    int m_lastIndex = -1;
    bool m_setting = false;
};

class TfrmSpecialParams : public QDialog
{
    Q_OBJECT
public:
    TfrmSpecialParams(ParameterWindows &windows, ModuleSession &session, QWidget *parent = nullptr);
    ~TfrmSpecialParams() override;

    Ui::TfrmSpecialParams *ui() const { return m_ui.get(); }

    /// Enables or disables the three fields the access level locks:
    /// rgInputType, rgOutputBoardType and neControlCode.
    void SetLockedFieldsEnabled(bool enabled);

    // Radio groups by item index (-1 = no item selected).
    RadioGroupIndex &rgInputType() { return *m_rgInputType; }
    RadioGroupIndex &rgADCSpeed() { return *m_rgADCSpeed; }
    RadioGroupIndex &rgOutputBoardType() { return *m_rgOutputBoardType; }
    RadioGroupIndex &rgAM1() { return *m_rgAM1; }
    RadioGroupIndex &rgAM2() { return *m_rgAM2; }
    RadioGroupIndex &rgOutMode() { return *m_rgOutMode; }

    /// True while the read of ReadSpecialParams runs.
    bool ReadRunning() const { return m_reading; }
    /// True while a read or write sequence runs (its buttons are disabled).
    bool SequenceRunning() const { return m_run.isRunning(); }
    /// True from a showing until the read it posted has started.
    bool ShowReadPending() const { return m_showReadPending; }

    /// Completed parts of the progress pane psReadWrite (0..21).
    int progressCompleted() const { return m_progressCompleted; }
    /// What the dialog knows of the module's registers (last read or written).
    const SpecialParams::KnownRegisters &knownRegisters() const { return m_known; }

    /// The value a write of `code` sends now (the selected board type decides
    /// for 28..33).
    std::int32_t WriteValueFor(CommandCode code) const;

public slots:
    /// The read every showing starts (posted by the show event), then the
    /// pages arranged for the selected items.
    void FormShow();
    void btnReadClick();
    void btnWriteClick();
    /// "R" and "W": write 28..33 from the analog-output fields.
    void btnWClick();
    void rgOutputBoardTypeClick();
    void rgOutModeClick();

    /// The sequences start and return at once; one at a time (a call while
    /// one runs starts nothing). Their results are told when they end.
    void ReadSpecialParams();
    void WriteSpecialParams();
    void StepProgress();

protected:
    void showEvent(QShowEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    enum class Sequence { None, Read, Write, OutputWrite };

    bool StartSequence(Sequence sequence, ParameterRun::Plan plan);
    void CodeAsked(CommandCode code);
    void CodeDone(CommandCode code, bool answered, std::int32_t value);
    void SequenceFinished(ParameterRun::Ending ending, const QString &error);
    void SetSequenceButtonsEnabled(bool enabled);
    void setupFields();
    void resetProgress(int completed);
    void showProgress();
    /// Puts a read register value into the field.
    void applyToField(SpecialParams::Field field, std::int32_t value);
    /// The register value the field's content stands for.
    std::int32_t fieldValue(SpecialParams::Field field) const;
    RadioGroupIndex *radioGroup(SpecialParams::Field field) const;
    NumericEdit *numericEdit(SpecialParams::Field field) const;

    ParameterWindows &m_windows;
    ModuleSession &m_session;
    std::unique_ptr<Ui::TfrmSpecialParams> m_ui;
    QStatusBar *m_statusBar = nullptr;
    std::unique_ptr<RadioGroupIndex> m_rgInputType;
    std::unique_ptr<RadioGroupIndex> m_rgADCSpeed;
    std::unique_ptr<RadioGroupIndex> m_rgOutputBoardType;
    std::unique_ptr<RadioGroupIndex> m_rgAM1;
    std::unique_ptr<RadioGroupIndex> m_rgAM2;
    std::unique_ptr<RadioGroupIndex> m_rgOutMode;
    SpecialParams::KnownRegisters m_known;
    int m_progressCompleted = 0;
    ParameterRun m_run;
    Sequence m_sequence = Sequence::None;
    bool m_reading = false;
    bool m_arrangeAfterRead = false; ///< a showing's read: the pages follow when it ends
    bool m_showReadPending = false;
};
