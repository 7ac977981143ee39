#include "ui/qt/ExtractDlg.h"

#include "ui/qt/DialogUnits.h"

#include <QFrame>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <climits>

namespace
{
// The integer of a field: optional blanks, an optional sign, digits.
bool ReadInteger(const QLineEdit* edit, std::int32_t& value)
{
    bool ok = false;
    const int number = edit->text().trimmed().toInt(&ok, 10);
    if (ok)
        value = number;
    return ok;
}
} // namespace

CExtractDlg::CExtractDlg(QWidget* parent, const UiServices& services)
    : QDialog(parent), m_services(services)
{
    setWindowTitle(tr("Extraction"));
    setFixedSize(DialogSize(148, 80));
    setFont(DialogFont());

    // Typing is limited to what can become an integer; what is pasted or
    // left half-typed is caught when the dialog closes.
    auto* digits = new QIntValidator(INT_MIN, INT_MAX, this);
    m_pStart = Place(new QLineEdit(this), 49, 8, 40, 12);
    m_pStart->setObjectName(QStringLiteral("IDC_START_FRAME"));
    m_pStart->setValidator(digits);
    m_pEnd = Place(new QLineEdit(this), 49, 29, 40, 12);
    m_pEnd->setObjectName(QStringLiteral("IDC_END_FRAME"));
    m_pEnd->setValidator(digits);

    QPushButton* ok = Place(new QPushButton(tr("Extract"), this), 96, 7, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CExtractDlg::accept);
    QPushButton* cancel = Place(new QPushButton(tr("Cancel"), this), 96, 28, 50, 14);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &CExtractDlg::reject);

    Place(new QGroupBox(this), 2, 3, 90, 19)->lower();
    QLabel* start = Place(new QLabel(tr("Start Frame"), this), 7, 10, 38, 8);
    start->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Place(new QGroupBox(this), 2, 24, 90, 19)->lower();
    QLabel* end = Place(new QLabel(tr("End Frame"), this), 7, 30, 38, 8);
    end->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QLabel* note =
        Place(new QLabel(tr("Please enter the Start and End Frames of the fragment you want to "
                            "get.\nAttention: other unsaved content will be lost !\nSo would be "
                            "better to save the draft file first."),
                         this),
              2, 46, 144, 32);
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);

    setTabOrder(m_pStart, m_pEnd);
    setTabOrder(m_pEnd, ok);
    setTabOrder(ok, cancel);
    DoDataExchange(false);
    m_pStart->setFocus();
    m_pStart->selectAll();
}

bool CExtractDlg::DoDataExchange(bool fromControls)
{
    if (!fromControls)
    {
        m_pEnd->setText(QString::number(m_nEndFrame));
        m_pStart->setText(QString::number(m_nStartFrame));
        return true;
    }
    for (QLineEdit* edit : {m_pEnd, m_pStart})
    {
        std::int32_t& field = edit == m_pEnd ? m_nEndFrame : m_nStartFrame;
        if (!ReadInteger(edit, field))
        {
            m_services.messageBox(this, windowTitle(), QStringLiteral("Please enter an integer."),
                                  QMessageBox::Ok, QMessageBox::Warning);
            edit->setFocus();
            edit->selectAll();
            return false;
        }
    }
    return true;
}

void CExtractDlg::accept()
{
    if (DoDataExchange(true))
        QDialog::accept();
}
