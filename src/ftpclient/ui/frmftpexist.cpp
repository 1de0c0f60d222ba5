#include "ftpclient/ui/frmftpexist.h"

#include "config/cregister.h"
#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

QPushButton *namedButton(QWidget *parent, const QString &text, const char *name)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QLabel *namedLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

} // namespace

frmExist::frmExist(CRegister *reg, QWidget *parent)
    : QDialog(parent),
      lblDestination(namedLabel(this, "lblDestination")),
      lblSource(namedLabel(this, "lblSource")),
      chkAll(new QCheckBox(QStringLiteral("Apply To All"), this)),
      cmdOverwrite(namedButton(this, QStringLiteral("&Overwrite"), "cmdOverwrite")),
      cmdResume(namedButton(this, QStringLiteral("&Resume"), "cmdResume")),
      cmdSkip(namedButton(this, QStringLiteral("Skip"), "cmdSkip")),
      cmdCancel(namedButton(this, QStringLiteral("&Cancel"), "cmdCancel")),
      m_reg(reg)
{
    setObjectName(QStringLiteral("frmFtpExist"));
    setWindowTitle(QStringLiteral("File Exists!"));
    setModal(true);
    chkAll->setObjectName(QStringLiteral("chkAll"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(chkAll);
    buttons->addStretch();
    for (QPushButton *b : {cmdOverwrite, cmdResume, cmdSkip, cmdCancel})
        buttons->addWidget(b);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblDestination);
    layout->addWidget(lblSource);
    layout->addLayout(buttons);

    connect(cmdOverwrite, &QPushButton::clicked, this, [this] { answer(ExistAnswer::Overwrite); });
    connect(cmdResume, &QPushButton::clicked, this, [this] { answer(ExistAnswer::Resume); });
    connect(cmdSkip, &QPushButton::clicked, this, [this] { answer(ExistAnswer::Skip); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { answer(ExistAnswer::Cancel); });
    // Escape and the frame's close button reject: the answer stays Cancel.

    SkinForm(this, SecondWindowSkinName, SkinFlavour::CorvaneDialog);
}

frmExist::~frmExist() = default;

void frmExist::answer(ExistAnswer choice)
{
    m_answer = choice;
    accept(); // hides the prompt; it is kept for the next file
}

ExistReply frmExist::ask(const ExistRequest &request)
{
    lblDestination->setText(request.destination);
    lblSource->setText(request.source);
    m_answer = ExistAnswer::Cancel;
    exec();
    return {m_answer, chkAll->isChecked()};
}

void frmExist::closeEvent(QCloseEvent *event)
{
    if (m_reg && !isMinimized()) {
        const QRect g = geometry();
        const auto save = [this](const char *key, int value) {
            m_reg->REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, QString::fromLatin1(key),
                                  QString::number(value));
        };
        save("EXIST TOP", g.top());
        save("EXIST LEFT", g.left());
        save("EXIST HEIGHT", g.height());
        save("EXIST WIDTH", g.width());
    }
    QDialog::closeEvent(event);
}

} // namespace corvane
