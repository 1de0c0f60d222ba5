#pragma once

#include "ftpclient/transfers.h"

#include <QDialog>

class CRegister;
class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane {

// Corvane's question for a file that exists on the server with another size
// or date: the server's copy (lblDestination), the local file (lblSource),
// "Apply To All", and Overwrite / Resume / Skip / Cancel. Closing the window
// is Cancel. The window keeps one instance, hidden between uses; when it is
// closed for good its geometry is saved as "EXIST TOP", "EXIST LEFT",
// "EXIST HEIGHT" and "EXIST WIDTH" (never read back).
class frmExist : public QDialog {
    Q_OBJECT

public:
    explicit frmExist(CRegister *reg = nullptr, QWidget *parent = nullptr);
    ~frmExist() override;

    // Shows the labels modally and returns the answer (eResumeFile) and the
    // state of "Apply To All". Usable as Transfers::Services::existPrompt:
    //   services.existPrompt = [dlg](const ExistRequest &r) { return dlg->ask(r); };
    ExistReply ask(const ExistRequest &request);

    ExistAnswer eResumeFile() const { return m_answer; }

    QLabel *const lblDestination;
    QLabel *const lblSource;
    QCheckBox *const chkAll;
    QPushButton *const cmdOverwrite;
    QPushButton *const cmdResume;
    QPushButton *const cmdSkip;
    QPushButton *const cmdCancel;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(ExistAnswer choice);

    CRegister *m_reg;
    ExistAnswer m_answer = ExistAnswer::Cancel;
};

} // namespace corvane
