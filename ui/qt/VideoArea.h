#pragma once

#include <QWidget>

class CTrellonDlg;

// The main dialog's top-left 640 x 480 pixels. Its paint is the dialog's
// paint: the playback step and ShowFrame run first, then the picture they
// prepared is drawn 1:1 from the frame buffer.
class CVideoArea : public QWidget
{
public:
    explicit CVideoArea(CTrellonDlg* owner);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CTrellonDlg* m_pOwner = nullptr;
};
