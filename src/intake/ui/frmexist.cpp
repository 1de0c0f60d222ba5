#include "intake/ui/frmexist.h"

#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton *namedButton(QWidget *parent, const QString &text, const char *name)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

frmExist::frmExist(QWidget *parent)
    : QDialog(parent),
      lblMessage(new QLabel(
          QStringLiteral("The file already exists at this location!  What would you like to do?"), this)),
      cmdOverwrite(namedButton(this, QStringLiteral("&Overwrite File"), "cmdOverwrite")),
      cmdResume(namedButton(this, QStringLiteral("&Resume"), "cmdResume")),
      cmdCancel(namedButton(this, QStringLiteral("&Cancel"), "cmdCancel"))
{
    setObjectName(QStringLiteral("frmExist"));
    setWindowTitle(QStringLiteral("File Already Exists!?"));
    setModal(true);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOverwrite);
    buttons->addWidget(cmdResume);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage);
    layout->addLayout(buttons);

    connect(cmdOverwrite, &QPushButton::clicked, this, [this] { answer(Overwrite); });
    connect(cmdResume, &QPushButton::clicked, this, [this] { answer(Resume); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { answer(Cancel); });
    // The frame's close button and Escape reject the dialog; m_choice then
    // keeps its Cancel.

    SkinForm(this, SecondWindowSkinName);
}

void frmExist::answer(qint16 choice)
{
    m_choice = choice;
    accept();
}

qint16 frmExist::ask(QWidget *owner)
{
    frmExist prompt(owner);
    prompt.exec();
    return prompt.choice();
}
