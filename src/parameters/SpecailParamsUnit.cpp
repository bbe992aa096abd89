#include "parameters/SpecailParamsUnit.h"

#include "ui_SpecailParamsUnit.h"

#include "device/ModuleSession.h"
#include "device/ParameterRun.h"
#include "widgets/NumericEdit.h"
#include "widgets/Prompter.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QRadioButton>
#include <QShowEvent>
#include <QStatusBar>

#include <utility>

using namespace SpecialParams;

namespace
{
QString ReadTimeoutText()
{
    return QCoreApplication::translate("TfrmSpecialParams", "读取超时！");
}
QString WriteFailedText()
{
    return QCoreApplication::translate("TfrmSpecialParams", "写入失败！");
}
QString WriteDoneText()
{
    return QCoreApplication::translate("TfrmSpecialParams", "       写入成功！     ");
}
QString VoltageOutputCaption()
{
    return QCoreApplication::translate("TfrmSpecialParams", "0~5V变送输出");
}
QString CurrentOutputCaption()
{
    return QCoreApplication::translate("TfrmSpecialParams", "4~20mA变送输出");
}
} // namespace

// --- RadioGroupIndex --------------------------------------------------------

RadioGroupIndex::RadioGroupIndex(QGroupBox *group)
    : m_group(group), m_buttonGroup(std::make_unique<QButtonGroup>())
{
    m_buttonGroup->setExclusive(true);
    for (QRadioButton *button : group->findChildren<QRadioButton *>()) {
        m_buttonGroup->addButton(button, int(m_buttons.size()));
        m_buttons.push_back(button);
    }
    m_lastIndex = itemIndex();
    QObject::connect(m_buttonGroup.get(), &QButtonGroup::idToggled, m_buttonGroup.get(),
                     [this](int, bool) { notifyIfChanged(); });
}

RadioGroupIndex::~RadioGroupIndex() = default;

QAbstractButton *RadioGroupIndex::button(int index) const
{
    return index >= 0 && index < count() ? m_buttons[std::size_t(index)] : nullptr;
}

int RadioGroupIndex::itemIndex() const
{
    for (int i = 0; i < count(); ++i) {
        if (m_buttons[std::size_t(i)]->isChecked())
            return i;
    }
    return NoItem;
}

void RadioGroupIndex::setItemIndex(int index)
{
    if (m_buttons.empty())
        return;
    m_setting = true;
    if (index < 0) {
        // An exclusive group refuses to uncheck its last checked button.
        m_buttonGroup->setExclusive(false);
        for (QAbstractButton *button : m_buttons)
            button->setChecked(false);
        m_buttonGroup->setExclusive(true);
    } else {
        m_buttons[std::size_t(std::min(index, count() - 1))]->setChecked(true);
    }
    m_setting = false;
    notifyIfChanged();
}

void RadioGroupIndex::notifyIfChanged()
{
    if (m_setting)
        return;
    const int index = itemIndex();
    if (index == m_lastIndex)
        return;
    m_lastIndex = index;
    if (m_onChange)
        m_onChange();
}

// --- TfrmSpecialParams ------------------------------------------------------

TfrmSpecialParams::TfrmSpecialParams(ParameterWindows &windows, ModuleSession &session, QWidget *parent)
    : QDialog(parent), m_windows(windows), m_session(session),
      m_ui(std::make_unique<Ui::TfrmSpecialParams>()), m_run(session.link())
{
    m_ui->setupUi(this);
    m_windows.special = this;

    // The progress pane lives in a status bar below the buttons.
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusBar->addWidget(m_ui->psReadWrite, 1);
    m_ui->lay_Main->addWidget(m_statusBar);

    setupFields();
    resetProgress(ReadProgressStart);

    connect(m_ui->btnRead, &QPushButton::clicked, this, &TfrmSpecialParams::btnReadClick);
    connect(m_ui->btnWrite, &QPushButton::clicked, this, &TfrmSpecialParams::btnWriteClick);
    connect(m_ui->btnR, &QPushButton::clicked, this, &TfrmSpecialParams::btnWClick);
    connect(m_ui->btnW, &QPushButton::clicked, this, &TfrmSpecialParams::btnWClick);
    connect(&m_run, &ParameterRun::asking, this, &TfrmSpecialParams::CodeAsked);
    connect(&m_run, &ParameterRun::codeDone, this, &TfrmSpecialParams::CodeDone);
    connect(&m_run, &ParameterRun::finished, this, &TfrmSpecialParams::SequenceFinished);
}

TfrmSpecialParams::~TfrmSpecialParams()
{
    if (m_windows.special == this)
        m_windows.special = nullptr;
}

void TfrmSpecialParams::setupFields()
{
    m_rgInputType = std::make_unique<RadioGroupIndex>(m_ui->rgInputType);
    m_rgADCSpeed = std::make_unique<RadioGroupIndex>(m_ui->rgADCSpeed);
    m_rgOutputBoardType = std::make_unique<RadioGroupIndex>(m_ui->rgOutputBoardType);
    m_rgAM1 = std::make_unique<RadioGroupIndex>(m_ui->rgAM1);
    m_rgAM2 = std::make_unique<RadioGroupIndex>(m_ui->rgAM2);
    m_rgOutMode = std::make_unique<RadioGroupIndex>(m_ui->rgOutMode);
    m_rgOutputBoardType->setOnChange([this] { rgOutputBoardTypeClick(); });
    m_rgOutMode->setOnChange([this] { rgOutModeClick(); });

    for (NumericEdit *edit :
         {m_ui->neControlCode, m_ui->neOutputRangeLow, m_ui->neOutputRangeHigh, m_ui->neVoltageOutputOffset,
          m_ui->neCurrentOutputOffset, m_ui->neAL1, m_ui->neAH1, m_ui->neAL2, m_ui->neAH2}) {
        edit->setDisplayFormat(NumericFormat::Grouped());
        edit->setValue(0);
    }
    for (NumericEdit *edit :
         {m_ui->neOutDSP1, m_ui->neOutVAL1, m_ui->neOutDSP2, m_ui->neOutVAL2, m_ui->neOutDSP3,
          m_ui->neOutVAL3, m_ui->neStepON, m_ui->neStepOFF, m_ui->neFilterBand}) {
        edit->setDisplayFormat(NumericFormat::GroupedParentheses());
        edit->setValue(0);
    }
    for (NumericEdit *edit : {m_ui->neVoltageOutputScale, m_ui->neCurrentOutputScale}) {
        edit->setDisplayFormat(NumericFormat::Fixed(ScaleDecimals));
        edit->setRange(ScaleMinimum, ScaleMaximum);
        edit->setValue(ScaleInitial);
    }
    m_ui->speFilterLevel->setLimits(FilterLevelMinimum, FilterLevelMaximum);
    m_ui->speFilterLevel->setClampedValue(FilterLevelMinimum);
}

void TfrmSpecialParams::SetLockedFieldsEnabled(bool enabled)
{
    m_ui->rgInputType->setEnabled(enabled);
    m_ui->rgOutputBoardType->setEnabled(enabled);
    m_ui->neControlCode->setEnabled(enabled);
}

void TfrmSpecialParams::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The read starts from the modal loop, so the main window is blocked
    // while it runs. A showing while a read is pending or running starts no
    // second one.
    if (event->spontaneous() || m_showReadPending || m_reading)
        return;
    m_showReadPending = true;
    QCoreApplication::postEvent(this, new QEvent(WM_SPECIALPARAMS_START));
}

void TfrmSpecialParams::customEvent(QEvent *event)
{
    if (event->type() != WM_SPECIALPARAMS_START) {
        QDialog::customEvent(event);
        return;
    }
    m_showReadPending = false;
    if (isVisible()) // closed again before the read could start
        FormShow();
}

void TfrmSpecialParams::FormShow()
{
    // The pages are arranged once the read has ended.
    m_arrangeAfterRead = true;
    ReadSpecialParams();
    if (!m_reading) { // another sequence runs: arrange them now
        m_arrangeAfterRead = false;
        rgOutputBoardTypeClick();
        rgOutModeClick();
    }
}

void TfrmSpecialParams::btnReadClick()
{
    ReadSpecialParams();
}

void TfrmSpecialParams::btnWriteClick()
{
    WriteSpecialParams();
}

// --- Progress ----------------------------------------------------------------

void TfrmSpecialParams::resetProgress(int completed)
{
    m_progressCompleted = completed;
    showProgress();
}

void TfrmSpecialParams::showProgress()
{
    m_ui->psReadWrite->setRange(0, ProgressParts);
    m_ui->psReadWrite->setValue(m_progressCompleted);
    m_ui->psReadWrite->setFormat(QStringLiteral("%1%").arg(ProgressPercent(m_progressCompleted)));
}

void TfrmSpecialParams::StepProgress()
{
    setWindowTitle(QString::number(m_progressCompleted));
    if (m_progressCompleted < ProgressParts)
        ++m_progressCompleted;
    showProgress();
}

// --- Sequences ---------------------------------------------------------------

void TfrmSpecialParams::ReadSpecialParams()
{
    ParameterRun::Plan plan;
    plan.mode = ParameterRun::Mode::Read;
    StartSequence(Sequence::Read, std::move(plan));
}

void TfrmSpecialParams::WriteSpecialParams()
{
    ParameterRun::Plan plan;
    plan.mode = ParameterRun::Mode::Write;
    // Taken when each command is sent: the board type may change meanwhile.
    plan.value = [this](CommandCode code) { return WriteValueFor(code); };
    StartSequence(Sequence::Write, std::move(plan));
}

void TfrmSpecialParams::btnWClick()
{
    ParameterRun::Plan plan;
    plan.mode = ParameterRun::Mode::Write;
    plan.first = FirstOutputCommand;
    plan.last = LastOutputCommand;
    plan.value = [this](CommandCode code) { return fieldValue(OutputFieldFor(code)); };
    StartSequence(Sequence::OutputWrite, std::move(plan));
}

bool TfrmSpecialParams::StartSequence(Sequence sequence, ParameterRun::Plan plan)
{
    // One sequence at a time: its buttons are disabled until it has ended.
    if (m_run.isRunning())
        return false;
    if (sequence != Sequence::OutputWrite) {
        plan.first = FirstSpecialParam;
        plan.last = LastSpecialParam;
        resetProgress(sequence == Sequence::Read ? ReadProgressStart : WriteProgressStart);
    }
    // Each sequence ends at its first code without an answer.
    plan.stopWhenUnanswered = true;
    m_sequence = sequence;
    m_reading = sequence == Sequence::Read;
    SetSequenceButtonsEnabled(false);
    m_run.start(m_session.CurrentAddress(), std::move(plan));
    return true;
}

void TfrmSpecialParams::CodeAsked(CommandCode code)
{
    if (m_sequence == Sequence::Read && code != FirstSpecialParam)
        StepProgress();
}

void TfrmSpecialParams::CodeDone(CommandCode code, bool answered, std::int32_t value)
{
    switch (m_sequence) {
    case Sequence::Read:
        // The last code's progress is counted before its outcome is looked at.
        if (code == LastSpecialParam)
            StepProgress();
        if (answered) {
            m_known.set(code, value);
            const ReadTargets targets = ReadTargetsFor(code);
            applyToField(targets.first, value);
            applyToField(targets.second, value);
        }
        return;
    case Sequence::Write:
        if (answered) {
            m_known.set(code, value);
            StepProgress();
        }
        return;
    case Sequence::OutputWrite:
        if (answered)
            m_known.set(code, value);
        return;
    case Sequence::None:
        return;
    }
}

void TfrmSpecialParams::SequenceFinished(ParameterRun::Ending ending, const QString &error)
{
    const Sequence sequence = std::exchange(m_sequence, Sequence::None);
    m_reading = false;
    SetSequenceButtonsEnabled(true);
    if (ending == ParameterRun::Ending::Unanswered)
        Prompts().inform(this, sequence == Sequence::Read ? ReadTimeoutText() : WriteFailedText());
    else if (!error.isEmpty()) // a loss of the device is told once, elsewhere
        Prompts().showError(this, error);
    else if (ending == ParameterRun::Ending::Completed && sequence == Sequence::Write)
        Prompts().inform(this, WriteDoneText());
    if (sequence == Sequence::Read && std::exchange(m_arrangeAfterRead, false)) {
        // Whatever the read reached, the pages follow the selected items.
        rgOutputBoardTypeClick();
        rgOutModeClick();
    }
}

void TfrmSpecialParams::SetSequenceButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {m_ui->btnRead, m_ui->btnWrite, m_ui->btnR, m_ui->btnW})
        button->setEnabled(enabled);
}

std::int32_t TfrmSpecialParams::WriteValueFor(CommandCode code) const
{
    const Field source = WriteSourceFor(code, m_rgOutputBoardType->itemIndex());
    if (source != Field::None)
        return fieldValue(source);
    // The board type gives this register no control: keep what the module
    // holds; before anything is known, the analog-output field stands for it.
    if (const auto known = m_known.get(code))
        return *known;
    return fieldValue(OutputFieldFor(code));
}

// --- Page handlers -------------------------------------------------------------

void TfrmSpecialParams::rgOutputBoardTypeClick()
{
    const int board = m_rgOutputBoardType->itemIndex();
    if (board == NoItem)
        return;
    const bool relay = board == BoardRelay;
    const bool voltage = board == BoardVoltageOutput;
    const bool current = board == BoardCurrentOutput;
    const bool analog = voltage || current;

    if (voltage)
        m_ui->grpOutput->setTitle(VoltageOutputCaption());
    else if (current)
        m_ui->grpOutput->setTitle(CurrentOutputCaption());
    if (analog) {
        const std::initializer_list<QWidget *> voltagePair = {
            m_ui->lblVoltageOutputScale, m_ui->neVoltageOutputScale, m_ui->lblVoltageOutputOffset,
            m_ui->neVoltageOutputOffset};
        const std::initializer_list<QWidget *> currentPair = {
            m_ui->lblCurrentOutputScale, m_ui->neCurrentOutputScale, m_ui->lblCurrentOutputOffset,
            m_ui->neCurrentOutputOffset};
        for (QWidget *w : voltagePair)
            w->setVisible(voltage);
        for (QWidget *w : currentPair)
            w->setVisible(current);
    }
    m_ui->grpOutput->setVisible(analog);

    if (relay)
        m_ui->tbcRelay->setCurrentWidget(m_ui->tsRelay1);
    m_ui->tbcRelay->setVisible(relay);
    m_ui->lblControlCode->setVisible(relay);
    m_ui->neControlCode->setVisible(relay);

    m_ui->RzPageControl1->setTabEnabled(m_ui->RzPageControl1->indexOf(m_ui->tsAOut), analog);
}

void TfrmSpecialParams::rgOutModeClick()
{
    m_ui->grpSpecialOut->setEnabled(m_rgOutMode->itemIndex() != OutModeNormal);
}

// --- Fields --------------------------------------------------------------------

RadioGroupIndex *TfrmSpecialParams::radioGroup(Field field) const
{
    switch (field) {
    case Field::InputType:
        return m_rgInputType.get();
    case Field::OutputBoardType:
        return m_rgOutputBoardType.get();
    case Field::ADCSpeed:
        return m_rgADCSpeed.get();
    case Field::AM1:
        return m_rgAM1.get();
    case Field::AM2:
        return m_rgAM2.get();
    case Field::OutMode:
        return m_rgOutMode.get();
    default:
        return nullptr;
    }
}

NumericEdit *TfrmSpecialParams::numericEdit(Field field) const
{
    switch (field) {
    case Field::AL1:
        return m_ui->neAL1;
    case Field::AH1:
        return m_ui->neAH1;
    case Field::AL2:
        return m_ui->neAL2;
    case Field::AH2:
        return m_ui->neAH2;
    case Field::OutputRangeLow:
        return m_ui->neOutputRangeLow;
    case Field::OutputRangeHigh:
        return m_ui->neOutputRangeHigh;
    case Field::VoltageOutputScale:
        return m_ui->neVoltageOutputScale;
    case Field::VoltageOutputOffset:
        return m_ui->neVoltageOutputOffset;
    case Field::CurrentOutputScale:
        return m_ui->neCurrentOutputScale;
    case Field::CurrentOutputOffset:
        return m_ui->neCurrentOutputOffset;
    case Field::ControlCode:
        return m_ui->neControlCode;
    case Field::OutDSP1:
        return m_ui->neOutDSP1;
    case Field::OutVAL1:
        return m_ui->neOutVAL1;
    case Field::OutDSP2:
        return m_ui->neOutDSP2;
    case Field::OutVAL2:
        return m_ui->neOutVAL2;
    case Field::OutDSP3:
        return m_ui->neOutDSP3;
    case Field::OutVAL3:
        return m_ui->neOutVAL3;
    case Field::StepON:
        return m_ui->neStepON;
    case Field::StepOFF:
        return m_ui->neStepOFF;
    case Field::FilterBand:
        return m_ui->neFilterBand;
    default:
        return nullptr;
    }
}

void TfrmSpecialParams::applyToField(Field field, std::int32_t value)
{
    if (field == Field::None)
        return;
    const FieldInfo info = Describe(field);
    switch (info.encoding) {
    case Encoding::RangedItem:
        if (const auto item = DecodeRangedItem(value, info.items))
            radioGroup(field)->setItemIndex(*item);
        return;
    case Encoding::UnrangedItem:
        radioGroup(field)->setItemIndex(DecodeUnrangedItem(value, info.items));
        return;
    case Encoding::OutModeItem:
        radioGroup(field)->setItemIndex(DecodeOutModeItem(value, info.items));
        return;
    case Encoding::Integer:
        numericEdit(field)->setValue(double(value));
        return;
    case Encoding::Scale:
        // Shown as read, also outside the entry range 0.0001..1.9999.
        numericEdit(field)->setValue(DecodeScale(value));
        return;
    case Encoding::FilterLevel:
        m_ui->speFilterLevel->setClampedValue(ClampFilterLevel(value));
        return;
    }
}

std::int32_t TfrmSpecialParams::fieldValue(Field field) const
{
    if (field == Field::None)
        return 0;
    switch (Describe(field).encoding) {
    case Encoding::RangedItem:
    case Encoding::UnrangedItem:
    case Encoding::OutModeItem:
        return radioGroup(field)->itemIndex();
    case Encoding::Integer:
        return EncodeInteger(numericEdit(field)->value());
    case Encoding::Scale:
        return EncodeScale(numericEdit(field)->value());
    case Encoding::FilterLevel:
        return FilterLevelFromText(m_ui->speFilterLevel->text());
    }
    return 0;
}
