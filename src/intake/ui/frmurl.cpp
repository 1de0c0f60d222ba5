#include "intake/ui/frmurl.h"

#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

frmURL::frmURL(QWidget *parent)
    : QDialog(parent),
      cboURL(new QComboBox(this)),
      cmdOk(new QPushButton(QStringLiteral("&Ok"), this)),
      cmdCancel(new QPushButton(QStringLiteral("&Cancel"), this))
{
    setObjectName(QStringLiteral("frmURL"));
    setWindowTitle(QStringLiteral("Enter URL"));
    cboURL->setObjectName(QStringLiteral("cboURL"));
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    cboURL->setEditable(true);
    // Typing a URL must not add it to the list; the list shows the rows.
    cboURL->setInsertPolicy(QComboBox::NoInsert);
    cboURL->setMinimumContentsLength(48);
    cboURL->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // No inline completion: it would silently append the rest of an earlier
    // URL to the one being typed. The drop-down list still offers them.
    cboURL->setCompleter(nullptr);
    // Enter is OK wherever the focus is: in the URL box the filter below
    // takes it (once), elsewhere the default button does.
    cmdOk->setAutoDefault(false);
    cmdOk->setDefault(true);
    cmdCancel->setAutoDefault(false);
    cboURL->lineEdit()->installEventFilter(this);

    auto *label = new QLabel(QStringLiteral("URL:"), this);
    label->setBuddy(cboURL);
    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(cboURL, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);

    connect(cmdOk, &QPushButton::clicked, this, &frmURL::okRequested);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    SkinForm(this, SecondWindowSkinName);
}

QString frmURL::url() const
{
    return cboURL->currentText();
}

void frmURL::setUrl(const QString &text, bool select)
{
    cboURL->setEditText(text);
    if (select)
        cboURL->lineEdit()->selectAll();
}

void frmURL::setHistory(const QStringList &urls)
{
    const QString text = cboURL->currentText();
    cboURL->clear();
    cboURL->addItems(urls);
    cboURL->setEditText(text);
}

QStringList frmURL::history() const
{
    QStringList urls;
    for (int i = 0; i < cboURL->count(); ++i)
        urls.append(cboURL->itemText(i));
    return urls;
}

bool frmURL::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == cboURL->lineEdit() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Q_EMIT okRequested();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
