#pragma once
// A main window (with its settings file and module session) on a fresh
// settings directory, optionally connected to a running simulator, for the
// window-level suites.

#include "ScriptedPrompter.h"
#include "TxSim.h"
#include "app/MainUnit.h"
#include "device/Pause.h"
#include "widgets/ModalRunner.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

class MainFixture
{
public:
    static constexpr int ShortReplyTimeoutMs = 300;

    explicit MainFixture(int replyTimeoutMs = ShortReplyTimeoutMs);
    ~MainFixture();

    TfrmMain &main() { return *m_main; }
    ModuleSession &session() { return *m_session; }
    SettingsStore &settings() { return *m_settings; }
    QString settingsDir() const { return m_dir.path(); }
    QString iniPath() const;
    QByteArray iniText() const;

    /// Writes "Data.ini" before the window is created (call before create()).
    void writeIni(const QByteArray &text);
    /// Opens the settings file, creates the session and the main window and
    /// shows it (runs its start-up).
    TfrmMain &create();

    /// Starts the simulator with `args`, opens its port in the main window.
    bool connect(const QStringList &args = {});
    TxSim &sim() { return m_sim; }

    /// Pauses asked for by the program, in order (they are not slept).
    QList<int> pauses;
    ScriptedPrompter prompts;

private:
    QTemporaryDir m_dir;
    int m_replyTimeoutMs;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ModuleSession> m_session;
    std::unique_ptr<TfrmMain> m_main;
    TxSim m_sim;
};

class TfrmCalibrate;

/// Opens the calibration dialog the way the main window's button does;
/// `script` runs while it is shown, and the dialog is closed afterwards.
void RunCalibrationDialog(TfrmCalibrate &dialog, const std::function<void()> &script);

/// Runs one live-reading tick and waits until its poll has ended (answered,
/// timed out or failed).
void PollOnce(TfrmMain &main);

/// Frame bytes as "3F 00 02 3D 23".
QString Hex(const QByteArray &bytes);
