#include "ui/qt/AboutDlg.h"

#include "ui/qt/DialogUnits.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("About TrellonHD"));
    setFixedSize(DialogSize(148, 64));
    setFont(DialogFont());

    auto* icon = new QLabel(this);
    icon->setGeometry(DialogRect(11, 17, 20, 20));
    icon->setPixmap(windowIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignCenter);

    auto* name = new QLabel(QStringLiteral("TrellonHD ") + tr("Version") + QLatin1Char(' ') +
                                QStringLiteral(TRELLON_VERSION),
                            this);
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(DialogRect(40, 10, 119, 8));
    auto* line = new QLabel(tr("Records and plays back Warcraft II."), this);
    line->setGeometry(DialogRect(40, 25, 119, 8));

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setGeometry(DialogRect(54, 44, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::accept);
}
