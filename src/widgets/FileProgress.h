#pragma once
// The progress window of a long export or import. Keeps the program
// responsive: every EventsEveryMs (and at the first report) it updates the
// bar and handles the waiting events, among them the Cancel button. Quick
// work (under ShowAfterMs) shows no window at all.

#include <QElapsedTimer>
#include <QProgressDialog>

#include <functional>

class FileProgress
{
public:
    static constexpr int ShowAfterMs = 500;
    static constexpr int EventsEveryMs = 50;
    static constexpr int Steps = 1000;

    FileProgress(QWidget *parent, const QString &label);

    /// The callback for the file functions: `done` of `total`; false once cancelled.
    std::function<bool(qint64, qint64)> callback()
    {
        return [this](qint64 done, qint64 total) { return report(done, total); };
    }

private:
    bool report(qint64 done, qint64 total);

    QProgressDialog m_dialog;
    QElapsedTimer m_sinceEvents;
};
