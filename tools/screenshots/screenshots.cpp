// screenshots: renders the program's windows into PNG files for the
// documentation, in one language per run.
//
//   screenshots OUTPUT_DIR zh_CN|en
//
// It starts the module simulator (three modules, at addresses 1, 5 and 12) on
// a pseudo-terminal, writes a settings file for the run into a temporary
// directory, opens the windows on it and works them the way an operator
// would: live reading of a changing load with noise, smoothing, two
// calibration points, the parameter list read from the module, the protocol
// monitor watching that traffic, and a bus scan of a small range. Each window
// is grabbed on its own (no screen, no other window) into
// OUTPUT_DIR/<language>-<window>.png.
//
// Any message the program would put to the operator is printed instead and
// makes the run fail: a picture of a failed step is no picture of the program.
// scripts/screenshots.sh runs it under Xvfb for both languages.

#include "TxSim.h"
#include "app/AppWindows.h"
#include "app/MainUnit.h"
#include "bustools/BusScanUnit.h"
#include "bustools/ProtocolMonitorUnit.h"
#include "calibration/CalibrateUnit.h"
#include "chart/ChartWidget.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "parameters/ParamUnit.h"
#include "parameters/ReadAllParamUnit.h"
#include "ui_BusScanUnit.h"
#include "ui_MainUnit.h"
#include "ui_WatchUnit.h"
#include "watch/WatchUnit.h"
#include "widgets/ModalRunner.h"
#include "widgets/Prompter.h"
#include "widgets/SpinEdit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
namespace Keys = SettingsKeys;

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// The line: the module read live, and two more for the bus scan with their
// loads (AD codes; the simulator's default table passes them through).
constexpr int LiveAddress = 1;
struct OtherModule {
    int address;
    int load;
};
constexpr OtherModule OtherModules[] = {{5, 12153}, {12, 1026}, {20, 15890}};
/// AD noise of the simulated sensor, +-counts (+-150.0 kg at one decimal).
constexpr int NoiseCounts = 1500;

// Settings of the run.
constexpr int ReadIntervalMs = 10;
constexpr int WaitIntervalMs = 20;
constexpr int AverageCount = 8;
constexpr int Decimal = 1;
constexpr double YMin = 0;
constexpr double YMax = 8000;

// The live trace: a load put on the scale, eased off and increased again; the
// scale's platform swings before it settles. Per sample: loads in AD codes.
constexpr int SampleTarget = 1150; // a little more than the chart's live span
struct LoadStep {
    int fromSample;
    double load;
};
constexpr LoadStep LoadSteps[] = {{0, 0}, {120, 50000}, {560, 26000}, {830, 64000}};
constexpr double Stiffness = 0.02; // platform swing, per sample squared
constexpr double Damping = 0.1;    // per sample
constexpr int SmoothingWindow = 8;
constexpr int LiveTimeoutMs = 60000;

// Calibration: two points, the empty scale and a reference weight.
constexpr int EmptyScaleLoad = 1234;
constexpr int ReferenceLoad = 501234;
constexpr int ReferencePV = 50000;

// Bus scan.
constexpr int ScanFrom = 1;
constexpr int ScanTo = 24;
constexpr int ScanTimeoutMs = 50;

// The watch: the four modules of a platform scale, each swinging a little, and their sum.
struct WatchedModule {
    int address;
    const char *name; // UTF-8
    int load;
    int swing;
    int periodMs;
};
constexpr WatchedModule WatchedModules[] = {{1, "左前", 21000, 2500, 2300},
                                            {5, "右前", 18500, 3000, 3100},
                                            {12, "左后", 16000, 2000, 1900},
                                            {20, "右后", 19500, 3500, 2700}};
constexpr int WatchIntervalMs = 20;
constexpr int WatchRounds = 600;
constexpr double SumHighLimit = 8200; // kg: crossed now and then

constexpr int StepTimeoutMs = 30000;
constexpr int SettleMs = 300; // repaints and a tick or two of the windows

/// Prints what the program would ask or tell, answers no, and remembers it.
class PrintingPrompter : public Prompter
{
public:
    bool askYesNo(QWidget *, const QString &title, const QString &text) override
    {
        told(title + QLatin1String(": ") + text);
        return false;
    }
    bool askOkCancel(QWidget *, const QString &title, const QString &text) override
    {
        told(title + QLatin1String(": ") + text);
        return false;
    }
    void inform(QWidget *, const QString &text) override { told(text); }
    void about(QWidget *, const QString &, const QString &text) override { told(text); }
    void showError(QWidget *, const QString &text) override { told(text); }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &) override { return {}; }

    bool anyTold() const { return m_told; }

private:
    void told(const QString &text)
    {
        m_told = true;
        std::fprintf(stderr, "screenshots: the program said: %s\n", qUtf8Printable(text));
    }
    bool m_told = false;
};

/// Pumps events until `condition` holds; false on time-out.
bool WaitUntil(TxSim &sim, const std::function<bool()> &condition, int timeoutMs = StepTimeoutMs)
{
    return sim.waitUntil(condition, timeoutMs);
}

void Settle(TxSim &sim)
{
    const QDeadlineTimer until(SettleMs);
    sim.waitUntil([&] { return until.hasExpired(); }, SettleMs * 2);
}

/// The platform's position for each sample: an underdamped follower of the
/// stepped load.
std::vector<int> LoadTrace()
{
    std::vector<int> trace;
    double position = 0, speed = 0;
    std::size_t step = 0;
    for (int n = 0; n <= SampleTarget; ++n) {
        while (step + 1 < std::size(LoadSteps) && LoadSteps[step + 1].fromSample <= n)
            ++step;
        speed += Stiffness * (LoadSteps[step].load - position) - Damping * speed;
        position += speed;
        trace.push_back(int(position));
    }
    return trace;
}

/// The settings of the run, written before the windows read them: the
/// simulator's port, the language, one decimal in kg, and a short read
/// interval that fills the chart's live span in a few seconds.
bool WriteSettings(const QString &dir, const QString &port, const QString &language)
{
    SettingsStore store(QDir(dir).filePath(Keys::FileName));
    SettingsStore::Batch batch(store);
    store.WriteString(Keys::SectionCommunication, Keys::KeyComPort, port);
    store.WriteInteger(Keys::SectionFilter, Keys::KeyAverageCount, AverageCount);
    store.WriteInteger(Keys::SectionSystemParameters, Keys::KeyReadInterval, ReadIntervalMs);
    store.WriteInteger(Keys::SectionSystemParameters, Keys::KeyWaitInterval, WaitIntervalMs);
    store.WriteString(Keys::SectionSystemParameters, Keys::KeyMeasureUnit, QStringLiteral("kg"));
    store.WriteInteger(Keys::SectionSystemParameters, Keys::KeyDecimal, Decimal);
    store.WriteFloat(Keys::SectionSystemParameters, Keys::KeyYMin, YMin);
    store.WriteFloat(Keys::SectionSystemParameters, Keys::KeyYMax, YMax);
    store.WriteInteger(Keys::SectionDefault, Keys::KeyDeviceNumber, LiveAddress);
    store.WriteString(Keys::SectionInterface, Keys::KeyLanguage, language);
    return batch.commit() && store.lastError().isEmpty();
}

class Run
{
public:
    Run(QString outputDir, QString language)
        : m_outputDir(std::move(outputDir)), m_language(std::move(language))
    {
    }

    bool exec();

private:
    bool fail(const char *what)
    {
        std::fprintf(stderr, "screenshots (%s): %s\n", qUtf8Printable(m_language), what);
        return false;
    }
    bool save(QWidget *window, const QString &name);
    bool liveReading(AppWindows &app);
    bool calibration(AppWindows &app);
    bool parameterList(AppWindows &app);
    bool monitor(AppWindows &app);
    bool busScan(AppWindows &app);
    bool watch(AppWindows &app);

    QString m_outputDir;
    QString m_language;
    TxSim m_sim;
};

bool Run::save(QWidget *window, const QString &name)
{
    window->raise();
    Settle(m_sim);
    const QString path =
        QDir(m_outputDir).filePath(m_language + QLatin1Char('-') + name + QLatin1String(".png"));
    // Highest PNG compression: the pictures live in the repository.
    constexpr int SmallestFile = 0;
    if (!window->grab().toImage().save(path, "PNG", SmallestFile))
        return fail("a picture could not be written");
    std::printf("%s\n", qUtf8Printable(path));
    return true;
}

bool Run::liveReading(AppWindows &app)
{
    TfrmMain &main = *app.main();
    ChartWidget &chart = *main.chart();
    main.btnBeginReadClick();
    if (main.state() != TfrmMain::State::Reading)
        return fail("live reading did not start");

    const std::vector<int> trace = LoadTrace();
    int loadSet = -1;
    const QDeadlineTimer deadline(LiveTimeoutMs);
    for (;;) {
        const qsizetype samples = chart.count(ChartWidget::SampleChannel);
        if (samples >= SampleTarget)
            break;
        if (deadline.hasExpired() || main.state() != TfrmMain::State::Reading)
            return fail("live reading did not collect its samples");
        const int load = trace[std::size_t(samples)];
        if (load != loadSet && m_sim.ok(QStringLiteral("load %1").arg(load)))
            loadSet = load;
        WaitUntil(
            m_sim, [&] { return chart.count(ChartWidget::SampleChannel) > samples; }, ReadIntervalMs * 10);
    }
    // The smoothed trace over what has been read, as the track bar gives it.
    main.ui()->tbFilterClass->setValue(SmoothingWindow);
    return save(&main, QStringLiteral("main"));
}

bool Run::calibration(AppWindows &app)
{
    TfrmMain &main = *app.main();
    main.btnBeginReadClick(); // stops reading
    TfrmCalibrate &dialog = *app.calibrate();
    auto *pv = dialog.findChild<SpinEdit *>(QStringLiteral("spePV"));
    auto *finish = dialog.findChild<QPushButton *>(QStringLiteral("btnEnd"));
    if (!pv || !finish)
        return fail("the calibration dialog has changed");

    // Shown beside the main window instead of in a modal loop of its own.
    SetModalHook([](QDialog *d) {
        d->show();
        return int(QDialog::Rejected);
    });
    m_sim.ok(QStringLiteral("load %1").arg(EmptyScaleLoad));
    main.btnCalibrateClick();
    WaitUntil(m_sim, [&] { return !dialog.RunInProgress(); }); // the ZerO write, then the dialog
    SetModalHook({});
    if (!dialog.isVisible())
        return fail("the calibration dialog did not open");

    // Point 1, the empty scale (its proposed value 0), then point 2 under the
    // reference weight.
    dialog.btnCalibrateClick();
    WaitUntil(m_sim, [&] { return !dialog.RunInProgress(); });
    dialog.btnNextPointClick();
    m_sim.ok(QStringLiteral("load %1").arg(ReferenceLoad));
    pv->setClampedValue(ReferencePV);
    dialog.btnCalibrateClick();
    WaitUntil(m_sim, [&] { return !dialog.RunInProgress(); });
    if (!finish->isEnabled())
        return fail("the calibration points were not taken");
    const bool saved = save(&dialog, QStringLiteral("calibration"));
    dialog.close(); // the table is not written: the module keeps its own
    // The reference weight comes off again; the last live load goes back on.
    m_sim.ok(QStringLiteral("load %1").arg(LoadTrace().back()));
    return saved;
}

bool Run::parameterList(AppWindows &app)
{
    TfrmParam &list = *app.parameters().param;
    TfrmReadAllParam &readAll = *app.parameters().readAll;
    // The user level: the general parameters, as the access code 59 opens them.
    list.SetSpecialParamsEnabled(false);
    list.show();
    readAll.RunReadAll();
    while (readAll.InRun()) // the run goes on from the event loop
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!readAll.Running())
        return fail("the parameters could not be read");
    list.SelectRow(0);
    // Widened as far as the longest name needs (the English ones are longer
    // than the column), as the operator would drag it.
    QTreeWidget *names = list.lvParam();
    const int shown = names->columnWidth(TfrmParam::NameColumn);
    names->resizeColumnToContents(TfrmParam::NameColumn);
    const int needed = names->columnWidth(TfrmParam::NameColumn);
    names->setColumnWidth(TfrmParam::NameColumn, std::max(shown, needed));
    if (needed > shown)
        list.resize(list.width() + needed - shown, list.height());
    return save(&list, QStringLiteral("parameters"));
}

bool Run::monitor(AppWindows &app)
{
    // Every column as wide as its caption and the window wide enough for all
    // of them, as the operator would drag them (the English captions and
    // texts need more room than the first widths).
    TfrmProtocolMonitor &monitor = *app.monitor();
    QTableView *frames = monitor.findChild<QTableView *>(QStringLiteral("lvFrames"));
    if (!frames)
        return fail("the protocol monitor has changed");
    QHeaderView *header = frames->horizontalHeader();
    for (int column = 0; column < header->count(); ++column)
        header->resizeSection(column, std::max(header->sectionSize(column), header->sectionSizeHint(column)));
    const int missing = header->length() - frames->viewport()->width();
    if (missing > 0)
        monitor.resize(monitor.width() + missing, monitor.height());
    return save(&monitor, QStringLiteral("monitor"));
}

bool Run::busScan(AppWindows &app)
{
    TfrmBusScan &scan = *app.busScan();
    Ui::TfrmBusScan &ui = *scan.ui();
    scan.show();
    ui.speFrom->setClampedValue(ScanFrom);
    ui.speTo->setClampedValue(ScanTo);
    ui.speTimeout->setClampedValue(ScanTimeoutMs);
    scan.btnStartClick();
    if (!WaitUntil(m_sim, [&] { return !scan.scanner().isRunning(); }))
        return fail("the bus scan did not end");
    if (ui.lvModules->topLevelItemCount() != 1 + int(std::size(OtherModules)))
        return fail("the bus scan did not find every module");
    ui.lvModules->setCurrentItem(ui.lvModules->topLevelItem(0));
    return save(&scan, QStringLiteral("busscan"));
}

bool Run::watch(AppWindows &app)
{
    // The modules the scan found go to the watch, by its button; then they
    // get their names, and their sum a channel of its own with a high limit.
    app.busScan()->btnWatchClick();
    TfrmWatch &watch = *app.watch();
    WatchConfig config = watch.config();
    if (config.modules.size() != qsizetype(std::size(WatchedModules)))
        return fail("the watch did not get the modules found");
    WatchChannelConfig sum{ComputedChannel::Kind::Sum, {}, QStringLiteral("总重"), QStringLiteral("kg")};
    for (std::size_t i = 0; i < std::size(WatchedModules); ++i) {
        const WatchedModule &module = WatchedModules[i];
        config.modules[qsizetype(i)].name = QString::fromUtf8(module.name);
        sum.members << int(i);
        m_sim.ok(QStringLiteral("module %1").arg(module.address));
        m_sim.ok(QStringLiteral("load %1").arg(module.load));
        m_sim.ok(QStringLiteral("pattern sine %1 %2").arg(module.swing).arg(module.periodMs));
    }
    config.channels = {sum};
    config.limits = {WatchLimitConfig{sum.name, {std::nullopt, SumHighLimit}}};
    watch.ApplyConfig(config);
    watch.ui()->speInterval->setClampedValue(WatchIntervalMs);
    watch.btnStartClick();
    if (!WaitUntil(m_sim, [&] { return watch.watch().rounds() >= WatchRounds; }, WatchRounds * 200))
        return fail("the watch did not go round");
    watch.RefreshView();
    const bool saved = save(&watch, QStringLiteral("watch"));
    watch.btnStopClick();
    return saved;
}

bool Run::exec()
{
    QStringList args{QStringLiteral("--address"), QString::number(LiveAddress)};
    for (const OtherModule &module : OtherModules)
        args << QStringLiteral("--address") << QString::number(module.address);
    args << QStringLiteral("--noise") << QString::number(NoiseCounts);
    if (!m_sim.start(args))
        return fail("the simulator did not start");
    m_sim.ok(QStringLiteral("log off"));
    for (const OtherModule &module : OtherModules) {
        m_sim.ok(QStringLiteral("module %1").arg(module.address));
        m_sim.ok(QStringLiteral("load %1").arg(module.load));
    }
    // "load" from here on is the live module's.
    m_sim.ok(QStringLiteral("module %1").arg(LiveAddress));

    QTemporaryDir settingsDir;
    if (!settingsDir.isValid() || !WriteSettings(settingsDir.path(), m_sim.portName(), m_language))
        return fail("the settings file could not be written");

    AppWindows app(settingsDir.path());
    TfrmMain &main = *app.main();
    main.show();
    if (!main.SelectPort(m_sim.portName()))
        return fail("the simulator's port is not offered");
    main.btnOpenClick();
    if (!main.IsPortOpen())
        return fail("the port did not open");
    // The monitor watches from now on, beside the main window.
    app.monitor()->show();

    return liveReading(app) && calibration(app) && parameterList(app) && monitor(app) && busScan(app) &&
           watch(app);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    AppWindows::ConfigureApplication();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the program's windows into PNG files."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("directory for the PNG files"));
    parser.addPositionalArgument(QStringLiteral("language"), QStringLiteral("zh_CN or en"));
    parser.process(application);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2 ||
        (positional[1] != Keys::LanguageChinese && positional[1] != Keys::LanguageEnglish)) {
        std::fprintf(stderr, "%s", qUtf8Printable(parser.helpText()));
        return ExitUsage;
    }
    if (!QDir().mkpath(positional[0])) {
        std::fprintf(stderr, "screenshots: cannot create %s\n", qUtf8Printable(positional[0]));
        return ExitFailure;
    }

    PrintingPrompter prompter;
    SetPrompter(&prompter);
    const bool done = Run(positional[0], positional[1]).exec();
    SetPrompter(nullptr);
    return done && !prompter.anyTold() ? 0 : ExitFailure;
}
