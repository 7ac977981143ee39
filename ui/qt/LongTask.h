#pragma once

#include "ui/core/TrellonWindow.h"

#include <QProgressDialog>

// A long command of the main dialog (a cut, an export): a progress dialog
// that shows how far it got once it takes more than half a second and lets
// the person cancel.
class CLongTask : public ILongTaskView
{
public:
    CLongTask(QWidget* owner, const QString& text)
        : m_progress(text, QStringLiteral("Cancel"), 0, 100, owner)
    {
        m_progress.setWindowModality(Qt::WindowModal);
        m_progress.setMinimumDuration(500);
        m_progress.setAutoClose(false);
        m_progress.setAutoReset(false);
    }
    ~CLongTask() override { m_progress.close(); }
    CLongTask(const CLongTask&) = delete;
    CLongTask& operator=(const CLongTask&) = delete;

    bool Report(int done, int total) override
    {
        if (total > 0)
            m_progress.setValue(static_cast<int>(static_cast<long long>(done) * 100 / total));
        return !m_progress.wasCanceled();
    }
    bool Cancelled() const override { return m_progress.wasCanceled(); }

private:
    QProgressDialog m_progress;
};
