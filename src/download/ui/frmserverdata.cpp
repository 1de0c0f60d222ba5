#include "download/ui/frmserverdata.h"

#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

frmServerData::frmServerData(QWidget *parent)
    : QWidget(parent, Qt::Window),
      txtData(new QPlainTextEdit(this)),
      cmdCopy(new QPushButton(QStringLiteral("&Copy to Clipboard"), this)),
      cmdExit(new QPushButton(QStringLiteral("E&xit"), this))
{
    setWindowTitle(QStringLiteral("Server Interaction Info"));
    setObjectName(QStringLiteral("frmServerData"));
    txtData->setObjectName(QStringLiteral("txtData"));
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdExit->setObjectName(QStringLiteral("cmdExit"));

    txtData->setReadOnly(true);
    txtData->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtData->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdExit);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtData, 1);
    layout->addLayout(buttons);
    resize(520, 360);

    connect(cmdCopy, &QPushButton::clicked, this, &frmServerData::copyToClipboard);
    connect(cmdExit, &QPushButton::clicked, this, &QWidget::close);
    SkinForm(this, SecondWindowSkinName);
}

void frmServerData::setLog(const QByteArray &log)
{
    // Header lines end in CR LF; the text box wants plain line breaks.
    QString text = QString::fromUtf8(log);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    txtData->setPlainText(text.trimmed());
}

QString frmServerData::text() const
{
    return txtData->toPlainText();
}

void frmServerData::copyToClipboard()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(txtData->toPlainText());
}
