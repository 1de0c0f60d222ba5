#include "ftpclient/ui/customcommandpanel.h"

#include "ftpclient/console.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CustomCommandPanel::CustomCommandPanel(FtpConsole *console, QWidget *parent) : QFrame(parent), m_console(console)
{
    setObjectName(QStringLiteral("frameCustomCommand"));
    setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Type an FTP command and press Enter; the server's answer "
                                                "appears in the connection log."),
                                 this));
    auto *row = new QHBoxLayout;
    txtCommand = new QLineEdit(this);
    txtCommand->setObjectName(QStringLiteral("txtCommand"));
    row->addWidget(txtCommand, 1);
    cmdCloseCommand = new QPushButton(QStringLiteral("Close"), this);
    cmdCloseCommand->setObjectName(QStringLiteral("cmdCloseCommand"));
    row->addWidget(cmdCloseCommand);
    layout->addLayout(row);
    connect(txtCommand, &QLineEdit::returnPressed, this, &CustomCommandPanel::commandEntered);
    connect(cmdCloseCommand, &QPushButton::clicked, this, &CustomCommandPanel::closeRequested);
}

void CustomCommandPanel::focusCommand()
{
    txtCommand->setFocus();
}

void CustomCommandPanel::commandEntered()
{
    if (m_console && m_console->sendCustomLine(txtCommand->text()))
        txtCommand->clear();
}
