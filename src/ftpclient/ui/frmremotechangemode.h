#pragma once

#include <QDialog>

#include <optional>

class CRegister;
class QCheckBox;
class QLineEdit;
class QPushButton;

// The permission dialog of remote entries: Read / Write / Execute for the
// owner, the group and others, and the three octal digits as one number in
// txtNumericValue (755 for rwxr-xr-x). Checking a box adds its weight,
// clearing it subtracts it; typing a number sets the boxes. "&OK" gives
// chmodResult 1, "Cancel" (or closing) 0. When the dialog is closed for good
// its geometry is saved as "REMOTE CHANGE MODE TOP" / "LEFT" / "HEIGHT" /
// "WIDTH" (never read back).
class frmRemoteChangeMode : public QDialog {
    Q_OBJECT

public:
    explicit frmRemoteChangeMode(CRegister *reg = nullptr, QWidget *parent = nullptr);
    ~frmRemoteChangeMode() override;

    // Shows the dialog modally starting from mode (such as 644); the chosen
    // number on "&OK", nothing on Cancel.
    std::optional<int> ask(int mode = 0);

    // The number shown (three octal digits read as a decimal number).
    int numericValue() const;
    // Sets the boxes and the number from such a number (digits above 7 are
    // refused: false, nothing changes).
    bool setNumericValue(int mode);

    int chmodResult = 0;

    // Boxes by [who][what]: who 0 owner, 1 group, 2 other; what 0 read,
    // 1 write, 2 execute.
    QCheckBox *chk[3][3] = {};
    QLineEdit *txtNumericValue = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void boxToggled(int who, int what, bool on);
    void numberEdited(const QString &text);

    CRegister *m_reg;
    int m_value = 0;
    bool m_updating = false;
};
