#pragma once

#include "ui/core/resource.h"
#include "ui/qt/UiServices.h"

#include <QDialog>
#include <cstdint>

class QLineEdit;

// Asks for the first and last frame of the fragment to keep, as the frame
// counter numbers them (from 1). Any integer is taken; the cut itself
// decides what bounds outside the video mean.
class CExtractDlg : public QDialog
{
    Q_OBJECT

public:
    CExtractDlg(QWidget* parent, const UiServices& services);

    std::int32_t m_nEndFrame = 0;
    std::int32_t m_nStartFrame = 0;

    QLineEdit* GetStartEdit() const { return m_pStart; }
    QLineEdit* GetEndEdit() const { return m_pEnd; }

    void accept() override;

protected:
    // False, with the person told and the field focused, when a field holds
    // no integer.
    bool DoDataExchange(bool fromControls);

private:
    const UiServices& m_services;
    QLineEdit* m_pStart = nullptr;
    QLineEdit* m_pEnd = nullptr;
};
