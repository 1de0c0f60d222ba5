#include "intake/ui/frmfile.h"

#include "intake/intakerules.h"
#include "platform/prompts.h"
#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

const QString frmFile::FileFilter = QStringLiteral("All Files(*.*)|*.*");

namespace {

QPushButton *namedButton(QWidget *parent, const QString &text, const char *name)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

frmFile::frmFile(const CaptionLookup &captions, Prompts *prompts, QWidget *owner)
    : QDialog(owner),
      fraFileInfo(new QGroupBox(QStringLiteral("&File Info"), this)),
      txtURL(new QLineEdit(fraFileInfo)),
      txtSaveAs(new QLineEdit(fraFileInfo)),
      cmdBegin(namedButton(this, QStringLiteral("&Begin Download"), "cmdBegin")),
      cmdLater(namedButton(this, QStringLiteral("&Download Later"), "cmdLater")),
      cmdChange(namedButton(fraFileInfo, QStringLiteral("C&hange"), "cmdChange")),
      cmdCancel(namedButton(this, QStringLiteral("&Cancel"), "cmdCancel")),
      m_captions(captions ? captions : defaultCaptions()),
      m_prompts(prompts),
      m_owner(owner)
{
    setObjectName(QStringLiteral("frmFile"));
    setWindowTitle(QStringLiteral("Download File"));
    setModal(true);
    fraFileInfo->setObjectName(QStringLiteral("fraFileInfo"));
    txtURL->setObjectName(QStringLiteral("txtURL"));
    txtSaveAs->setObjectName(QStringLiteral("txtSaveAs"));
    cmdBegin->setDefault(true);

    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(txtSaveAs, 1);
    saveRow->addWidget(cmdChange);
    auto *form = new QFormLayout(fraFileInfo);
    form->addRow(QStringLiteral("URL:"), txtURL);
    form->addRow(QStringLiteral("Save As:"), saveRow);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdBegin);
    buttons->addWidget(cmdLater);
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(fraFileInfo);
    layout->addLayout(buttons);

    connect(cmdBegin, &QPushButton::clicked, this, &frmFile::BeginDownload);
    connect(cmdLater, &QPushButton::clicked, this, &frmFile::DownloadLater);
    connect(cmdChange, &QPushButton::clicked, this, &frmFile::Change);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    SkinForm(this, SecondWindowSkinName);
    resize(520, sizeHint().height());
}

bool frmFile::load()
{
    txtURL->setText(URL);
    txtSaveAs->clear();
    if (!m_prompts)
        return false;
    FileDialogRequest request;
    request.kind = FileDialogKind::Save;
    request.title = m_captions(QStringLiteral("06007"), QStringLiteral("[Save file to?]"));
    request.filter = FileFilter;
    request.directory = startFolder;
    request.fileName = ProposedSaveName(URL);
    request.stayOnTop = true;
    request.owner = m_owner;
    const QString chosen = m_prompts->file(request);
    if (chosen.isEmpty())
        return false;
    txtSaveAs->setText(chosen);
    Q_EMIT lastSavePathChosen(chosen);
    return true;
}

bool frmFile::bothFilled() const
{
    return !txtURL->text().isEmpty() && !txtSaveAs->text().isEmpty();
}

void frmFile::BeginDownload()
{
    if (!bothFilled())
        return;
    const QString url = txtURL->text();
    const QString path = txtSaveAs->text();
    accept();
    Q_EMIT beginRequested(url, path);
}

void frmFile::DownloadLater()
{
    if (!bothFilled())
        return;
    const QString url = txtURL->text();
    const QString path = txtSaveAs->text();
    accept();
    Q_EMIT laterRequested(url, path);
}

void frmFile::Change()
{
    // The file dialog runs a nested event loop; a second press meanwhile
    // must not open another one.
    if (m_changing || !m_prompts)
        return;
    m_changing = true;
    FileDialogRequest request;
    request.kind = FileDialogKind::Save;
    request.title = QStringLiteral("Save file to...");
    request.filter = FileFilter;
    request.fileName = txtSaveAs->text();
    request.owner = m_owner;
    const QString chosen = m_prompts->file(request);
    m_changing = false;
    if (!chosen.isEmpty())
        txtSaveAs->setText(chosen);
}
