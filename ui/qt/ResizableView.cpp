#include "ui/qt/ResizableView.h"

#include "ui/qt/DialogUnits.h"
#include "ui/qt/TrellonDlg.h"

#include <QKeyEvent>
#include <QPainter>

CResizableView::CResizableView(CTrellonDlg* owner, CResizableView** ownerSlot)
    : QDialog(owner), m_pOwner(owner), m_ppOwnerSlot(ownerSlot)
{
    setWindowTitle(tr("Resizable View TrellonHD"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // Every pixel is painted from the picture; there is nothing to erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(DialogSize(427, 296));
    show();
    s_bViewOpen = 1;
}

CResizableView::~CResizableView()
{
    if (m_ppOwnerSlot != nullptr)
        *m_ppOwnerSlot = nullptr;
    s_bViewOpen = 0;
    m_pOwner->OnViewClosed(); // the picture goes back to the main dialog
}

void CResizableView::paintEvent(QPaintEvent*)
{
    // A minimised main dialog gets no paints, so this window carries the
    // playback loop on meanwhile.
    if (m_pOwner->IsPlaying() && m_pOwner->isMinimized())
        m_pOwner->OnPaint(this);
    const QImage* image = m_pOwner->GetShownImage();
    QPainter painter(this);
    if (image == nullptr)
    {
        painter.fillRect(rect(), Qt::black);
        m_pOwner->update();
        return;
    }
    // Nearest-pixel sampling: no smoothing between the game's pixels.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(rect(), *image,
                      QRect(0, 0, g_nDisplayWidth, g_nDisplayHeight).intersected(image->rect()));
}

void CResizableView::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (s_bViewOpen)
        update();
}

// Escape and the close box end the dialog as any dialog (and, the window
// being deleted on close, delete it); Enter does the same here.
void CResizableView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        reject();
    else
        QDialog::keyPressEvent(event);
}
