#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Asks what to do with a save file that exists already. The answer is the
// existing-file decision of the download engine: 0 overwrite, -1 resume,
// -2 cancel. Closing the prompt by its frame (or with Escape) is Cancel, so
// an existing file is never overwritten without an explicit choice.
class frmExist : public QDialog {
    Q_OBJECT

public:
    explicit frmExist(QWidget *parent = nullptr);

    static constexpr qint16 Overwrite = 0;
    static constexpr qint16 Resume = -1;
    static constexpr qint16 Cancel = -2;

    // The answer given; Cancel until a button was pressed.
    qint16 choice() const { return m_choice; }

    // Shows the prompt modally and returns the answer.
    static qint16 ask(QWidget *owner);

    QLabel *const lblMessage;
    QPushButton *const cmdOverwrite;
    QPushButton *const cmdResume;
    QPushButton *const cmdCancel;

private:
    void answer(qint16 choice);

    qint16 m_choice = Cancel;
};
