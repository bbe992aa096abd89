#include "MainFixture.h"

#include "calibration/CalibrateUnit.h"

#include <QDialog>
#include <QFile>
#include <QTest>

MainFixture::MainFixture(int replyTimeoutMs) : m_replyTimeoutMs(replyTimeoutMs)
{
    SetPauseHook([this](int ms) { pauses.append(ms); });
}

MainFixture::~MainFixture()
{
    m_main.reset();
    m_session.reset();
    m_settings.reset();
    m_sim.stop();
    SetPauseHook({});
    SetModalHook({});
}

QString MainFixture::iniPath() const
{
    return m_dir.filePath(QStringLiteral("Data.ini"));
}

QByteArray MainFixture::iniText() const
{
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void MainFixture::writeIni(const QByteArray &text)
{
    QFile f(iniPath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
}

TfrmMain &MainFixture::create()
{
    m_settings = std::make_unique<SettingsStore>(iniPath());
    m_session = std::make_unique<ModuleSession>(m_replyTimeoutMs);
    m_main = std::make_unique<TfrmMain>(*m_session, *m_settings);
    m_main->show();
    return *m_main;
}

bool MainFixture::connect(const QStringList &args)
{
    if (!m_main)
        create();
    if (!m_sim.start(args))
        return false;
    if (!m_main->SelectPort(m_sim.portName()))
        return false;
    m_main->btnOpenClick();
    return m_main->IsPortOpen();
}

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

void RunCalibrationDialog(TfrmCalibrate &dialog, const std::function<void()> &script)
{
    SetModalHook([&](QDialog *d) {
        d->show();
        script();
        if (d->isVisible())
            d->close();
        return d->result();
    });
    OpenCalibration(dialog);
    // The dialog is shown once the module acknowledged the ZerO write.
    (void)QTest::qWaitFor([&dialog] { return !dialog.RunInProgress(); }, 4 * DeviceLink::DefaultReplyTimeoutMs);
    SetModalHook({});
}

void PollOnce(TfrmMain &main)
{
    main.TimerReadTimer();
    (void)QTest::qWaitFor([&main] { return !main.PollPending(); }, 4 * DeviceLink::DefaultReplyTimeoutMs);
}
