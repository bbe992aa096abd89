#include "widgets/FileProgress.h"

#include <QCoreApplication>

FileProgress::FileProgress(QWidget *parent, const QString &label)
    : m_dialog(label, QCoreApplication::translate("TfrmMain", "取消"), 0, Steps, parent)
{
    // Nothing else of the program takes input while the file is worked on:
    // the samples must not change under it.
    m_dialog.setWindowModality(Qt::ApplicationModal);
    m_dialog.setMinimumDuration(ShowAfterMs);
    m_dialog.setAutoReset(false);
    m_dialog.setAutoClose(false);
}

bool FileProgress::report(qint64 done, qint64 total)
{
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < EventsEveryMs)
        return !m_dialog.wasCanceled();
    m_sinceEvents.start();
    const double part = total > 0 ? double(done) / double(total) : 0.0;
    m_dialog.setValue(int(part * Steps));
    // Until the window shows, input waits; once it shows, it is modal and
    // only its Cancel button takes input.
    QCoreApplication::processEvents(m_dialog.isVisible() ? QEventLoop::AllEvents
                                                         : QEventLoop::ExcludeUserInputEvents);
    return !m_dialog.wasCanceled();
}
