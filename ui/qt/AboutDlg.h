#pragma once

#include <QDialog>

// The About box: the icon, the product name and version, and one line on
// what the program is for.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent);
};
