#include "ui/qt/VideoArea.h"

#include "ui/qt/TrellonDlg.h"

#include <QPainter>

CVideoArea::CVideoArea(CTrellonDlg* owner) : QWidget(owner), m_pOwner(owner)
{
    setGeometry(0, 0, 640, 480);
    // The picture is drawn over the dialog's background, which stays where
    // there is no picture.
    setAttribute(Qt::WA_NoSystemBackground, false);
}

void CVideoArea::paintEvent(QPaintEvent*)
{
    m_pOwner->OnPaint(this);
    const QImage* image = m_pOwner->GetShownImage();
    if (image == nullptr || m_pOwner->GetView() != nullptr)
        return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), *image,
                      QRect(0, 0, g_nDisplayWidth, g_nDisplayHeight).intersected(image->rect()));
}
