#include "ui/qt/ExportDlg.h"

#include "export/VideoExport.h"
#include "ui/qt/DialogUnits.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <algorithm>

CExportDlg::CExportDlg(QWidget* parent, int frames, int first, int last) : QDialog(parent)
{
    setWindowTitle(tr("Export"));
    setFont(DialogFont());
    m_pFormat = new QComboBox(this);
    m_pFormat->addItems({tr("MP4 (H.264), for players and sites"), tr("WebM (VP9), for browsers"),
                         tr("MKV, lossless"), tr("GIF, the recording's own colours")});
    const int count = std::max(frames, 1);
    m_pFirst = new QSpinBox(this);
    m_pFirst->setRange(1, count);
    m_pFirst->setValue(std::clamp(first, 1, count));
    m_pLast = new QSpinBox(this);
    m_pLast->setRange(1, count);
    m_pLast->setValue(std::clamp(last, 1, count));
    m_pScale = new QSpinBox(this);
    m_pScale->setRange(1, kMaxExportScale);
    m_pScale->setSuffix(QStringLiteral(" x"));

    auto* form = new QFormLayout(this);
    form->addRow(tr("Format"), m_pFormat);
    form->addRow(tr("First frame"), m_pFirst);
    form->addRow(tr("Last frame"), m_pLast);
    form->addRow(tr("Enlarge"), m_pScale);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The range stays in order whichever end is moved.
    connect(m_pFirst, &QSpinBox::valueChanged, this,
            [this](int value) { m_pLast->setValue(std::max(value, m_pLast->value())); });
    connect(m_pLast, &QSpinBox::valueChanged, this,
            [this](int value) { m_pFirst->setValue(std::min(value, m_pFirst->value())); });
}

int CExportDlg::GetFormat() const
{
    return m_pFormat->currentIndex();
}
int CExportDlg::GetFirst() const
{
    return m_pFirst->value();
}
int CExportDlg::GetLast() const
{
    return m_pLast->value();
}
int CExportDlg::GetScale() const
{
    return m_pScale->value();
}
