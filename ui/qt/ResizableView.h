#pragma once

#include <QDialog>

class CTrellonDlg;

// The detached video window: the frame under the slider, stretched over the
// whole client area with nearest-pixel sampling. It has no controls; it
// paints the picture the main dialog prepared and, when the frame buffer
// holds something else since, asks the main dialog to prepare it again. It
// deletes itself when closed and clears the main dialog's pointer to it.
class CResizableView : public QDialog
{
    Q_OBJECT

public:
    CResizableView(CTrellonDlg* owner, CResizableView** ownerSlot);
    ~CResizableView() override;
    CResizableView(const CResizableView&) = delete;
    CResizableView& operator=(const CResizableView&) = delete;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CTrellonDlg* m_pOwner = nullptr;
    CResizableView** m_ppOwnerSlot = nullptr;
};
