#pragma once

#include <QDialog>

class QComboBox;
class QSpinBox;

// Asks how to export the video: the format, the frames (numbered from 1, as
// the frame counter shows them) and the enlargement. The file name is asked
// for afterwards, with the format's extension.
class CExportDlg : public QDialog
{
    Q_OBJECT

public:
    // The list holds the formats in the order of
    // CTrellonCore::kExportExtensions.
    CExportDlg(QWidget* parent, int frames, int first, int last);

    int GetFormat() const;
    int GetFirst() const;
    int GetLast() const;
    int GetScale() const;
    QComboBox* GetFormatList() const { return m_pFormat; }
    QSpinBox* GetFirstBox() const { return m_pFirst; }
    QSpinBox* GetLastBox() const { return m_pLast; }
    QSpinBox* GetScaleBox() const { return m_pScale; }

private:
    QComboBox* m_pFormat = nullptr;
    QSpinBox* m_pFirst = nullptr;
    QSpinBox* m_pLast = nullptr;
    QSpinBox* m_pScale = nullptr;
};
