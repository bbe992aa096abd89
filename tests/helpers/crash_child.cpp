// Child program of the crash-safety suite: the program's windows on a given
// settings directory, storing settings and exporting samples in an endless
// loop until it is killed.
//
//   crash_child <settings dir> <export file> <points>
//
// Start-up runs as the program's does (all windows created, the main window
// shown). The first generation is the one after the one the file holds; when
// a kill left the file between two generations (the dialog's values are
// stored together, the two handlers' keys one by one), the newer one is
// completed first. Per generation n:
//   1. The chart is cleared and filled with n's points;
//      "export-begin n"; the export handler writes the file;
//      "export n" once it returned.
//   2. "settings-begin n"; the system-parameters dialog is shown through the
//      main window's button and confirmed with n's values; the stay-on-top
//      menu item and the marker check box are set to n's parity;
//      "settings n" once all of them returned.
// Values are those of CrashGeneration.h. Any error the program would show
// ends the child with exit code 3 and the text on stderr.

#include "CrashGeneration.h"

#include "app/AppWindows.h"
#include "app/MainUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"
#include "widgets/SpinEdit.h"
#include "chart/ChartWidget.h"
#include "chart/SampleDataFile.h"
#include "widgets/NumericEdit.h"
#include "settings/SystemParamsUnit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
constexpr int ExitShownError = 3;
constexpr int ExitUsage = 2;

// Answers the export's file question with the given path; anything shown as
// an error ends the run.
class ChildPrompter : public Prompter
{
public:
    explicit ChildPrompter(QString exportPath) : m_exportPath(std::move(exportPath)) {}

    bool askYesNo(QWidget *, const QString &, const QString &) override { return true; }
    bool askOkCancel(QWidget *, const QString &, const QString &) override { return true; }
    void inform(QWidget *, const QString &) override {}
    void showError(QWidget *, const QString &text) override
    {
        std::fprintf(stderr, "error shown: %s\n", qPrintable(text));
        std::fflush(stderr);
        std::_Exit(ExitShownError);
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return m_exportPath; }
    QString openFileName(QWidget *, const QString &, const QString &) override { return {}; }

private:
    QString m_exportPath;
};

// A control of a window by its object name (this program includes no form
// headers); a missing one ends the run.
template <typename T> T *Control(QObject *window, const char *name)
{
    T *control = window->findChild<T *>(QLatin1String(name));
    if (!control) {
        std::fprintf(stderr, "no control %s\n", name);
        std::_Exit(ExitShownError);
    }
    return control;
}

void announce(const char *what, int generation)
{
    std::printf("%s %d\n", what, generation);
    std::fflush(stdout);
}

// Fills the dialog the way an operator would and presses OK.
int ConfirmSystemParams(QDialog *dialog, int generation)
{
    auto *params = qobject_cast<TfrmSystemParams *>(dialog);
    if (!params) {
        std::fprintf(stderr, "unexpected dialog %s\n", dialog->metaObject()->className());
        std::_Exit(ExitShownError);
    }
    const CrashGeneration::Settings s = CrashGeneration::SettingsOf(generation);
    params->show();
    Control<QLineEdit>(params, "edUnit")->setText(s.measureUnit);
    Control<SpinEdit>(params, "speDecimal")->setClampedValue(s.decimal);
    Control<NumericEdit>(params, "neYMin")->setValue(s.yMin);
    Control<NumericEdit>(params, "neYMax")->setValue(s.yMax);
    Control<NumericEdit>(params, "neReadInterval")->setValue(s.readInterval);
    auto *baud = Control<QComboBox>(params, "cbxBaud");
    baud->setCurrentIndex(baud->findText(QString::number(s.baud), Qt::MatchExactly));
    params->btnOKClick();
    if (params->isVisible()) {
        std::fprintf(stderr, "the system-parameters dialog stayed open\n");
        std::_Exit(ExitShownError);
    }
    return params->result();
}

void FillChart(TfrmMain &main, int generation, qsizetype points)
{
    main.btnClearClick();
    std::vector<double> x(static_cast<std::size_t>(points));
    std::vector<double> y(static_cast<std::size_t>(points));
    for (qsizetype i = 0; i < points; ++i) {
        x[std::size_t(i)] = CrashGeneration::SampleX(i);
        y[std::size_t(i)] = CrashGeneration::SampleY(generation, i);
    }
    main.chart()->data().channel(SampleChannels::Samples).appendRange(x.data(), y.data(), points);
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: crash_child <settings dir> <export file> <points>\n");
        return ExitUsage;
    }
    const qsizetype points = args.at(3).toLongLong();

    ChildPrompter prompter(args.at(2));
    SetPrompter(&prompter);
    int generation = 0;
    SetModalHook([&generation](QDialog *dialog) { return ConfirmSystemParams(dialog, generation); });

    AppWindows windows(args.at(1));
    TfrmMain &main = *windows.main();
    main.show();
    QAction *stayOnTop = Control<QAction>(&main, "F1");
    QCheckBox *viewMarker = Control<QCheckBox>(&main, "ckbViewMarker");
    // Complete the generation the file names, or go on after it.
    generation = std::max(CrashGeneration::GenerationOfUnit(main.current().MeasureUnit), 0);
    bool complete = true;
    for (int key = 0; key < CrashGeneration::SettingsKeyCount; ++key)
        complete = complete && CrashGeneration::KeyHolds(main.settings(), key, generation);
    if (complete)
        ++generation;
    announce(CrashGeneration::LineReady, generation);

    for (;; ++generation) {
        FillChart(main, generation, points);
        announce(CrashGeneration::LineExportBegin, generation);
        main.btnExportClick();
        announce(CrashGeneration::LineExportDone, generation);

        const CrashGeneration::Settings s = CrashGeneration::SettingsOf(generation);
        announce(CrashGeneration::LineSettingsBegin, generation);
        main.btnSystemParamsClick();
        stayOnTop->setChecked(s.stayOnTop);
        main.F1Click();
        viewMarker->setChecked(s.viewDataMarker);
        main.ckbViewMarkerClick();
        if (!main.settings().lastError().isEmpty()) {
            std::fprintf(stderr, "settings write failed: %s\n", qPrintable(main.settings().lastError()));
            return ExitShownError;
        }
        announce(CrashGeneration::LineSettingsDone, generation);
    }
}
