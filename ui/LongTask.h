#pragma once

#include <QProgressDialog>

// A long command of the main dialog (a cut, an export): a progress dialog
// that shows how far it got once it takes more than half a second and lets
// the person cancel, and the timer's guard held meanwhile, so that ticks that
// come are dropped as during any long tick.
class CLongTask
{
public:
    CLongTask(QWidget* owner, const QString& text, int& inTimer)
        : m_progress(text, QStringLiteral("Cancel"), 0, 100, owner), m_rInTimer(inTimer),
          m_nWasInTimer(inTimer)
    {
        m_progress.setWindowModality(Qt::WindowModal);
        m_progress.setMinimumDuration(500);
        m_progress.setAutoClose(false);
        m_progress.setAutoReset(false);
        m_rInTimer = 1;
    }
    ~CLongTask()
    {
        m_rInTimer = m_nWasInTimer;
        m_progress.close();
    }
    CLongTask(const CLongTask&) = delete;
    CLongTask& operator=(const CLongTask&) = delete;

    // The progress callback of the work: false once the person cancelled.
    bool Report(int done, int total)
    {
        if (total > 0)
            m_progress.setValue(static_cast<int>(static_cast<long long>(done) * 100 / total));
        return !m_progress.wasCanceled();
    }
    bool Cancelled() const { return m_progress.wasCanceled(); }

private:
    QProgressDialog m_progress;
    int& m_rInTimer;
    int m_nWasInTimer;
};
