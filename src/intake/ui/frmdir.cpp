#include "intake/ui/frmdir.h"

#include "platform/prompts.h"
#include "platform/skinelements.h"
#include "platform/ui/skinform.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// The language file gives these captions; without one the chooser still
// needs readable texts, so an empty lookup falls back to the English ones.
QString captionOr(const CaptionLookup &captions, const char *id, const QString &fallback)
{
    const QString text = captions ? captions(QString::fromLatin1(id), QString()) : QString();
    return text.isEmpty() ? fallback : text;
}

} // namespace

frmDir::frmDir(const CaptionLookup &captions, Prompts *prompts, QWidget *parent)
    : QDialog(parent),
      tvwFolders(new QTreeView(this)),
      txtPath(new QLineEdit(this)),
      tlbTools(new QToolBar(this)),
      actNewFolder(tlbTools->addAction(QStringLiteral("newfolder"))),
      cmdOk(new QPushButton(captionOr(captions, "02006", QStringLiteral("&Ok")), this)),
      cmdCancel(new QPushButton(captionOr(captions, "05004", QStringLiteral("&Cancel")), this)),
      m_model(new QFileSystemModel(this)),
      m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmDir"));
    setWindowTitle(captionOr(captions, "03000", QStringLiteral("Select Directory")));
    tvwFolders->setObjectName(QStringLiteral("tvwFolders"));
    txtPath->setObjectName(QStringLiteral("txtPath"));
    tlbTools->setObjectName(QStringLiteral("tlbTools"));
    actNewFolder->setObjectName(QStringLiteral("newfolder"));
    actNewFolder->setToolTip(QStringLiteral("newfolder"));
    actNewFolder->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdOk->setDefault(true);

    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(false);
    m_model->setRootPath(QDir::rootPath());
    tvwFolders->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        tvwFolders->hideColumn(column);
    tvwFolders->header()->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tlbTools);
    layout->addWidget(tvwFolders, 1);
    layout->addWidget(txtPath);
    layout->addLayout(buttons);

    connect(tvwFolders->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    txtPath->setText(QDir::fromNativeSeparators(m_model->filePath(current)));
            });
    connect(actNewFolder, &QAction::triggered, this, &frmDir::NewFolder);
    connect(cmdOk, &QPushButton::clicked, this, [this] {
        strDirPath = txtPath->text();
        accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    SkinForm(this, SecondWindowSkinName);
    resize(420, 480);
}

void frmDir::selectFolder(const QString &path)
{
    const QModelIndex index = m_model->index(QDir::cleanPath(path));
    if (!index.isValid())
        return;
    tvwFolders->setCurrentIndex(index);
    tvwFolders->scrollTo(index);
}

QString frmDir::selectedFolder() const
{
    const QModelIndex current = tvwFolders->currentIndex();
    return current.isValid() ? QDir::fromNativeSeparators(m_model->filePath(current)) : QString();
}

QString frmDir::newFolderName(const QString &parent)
{
    const QDir dir(parent);
    QString name = QStringLiteral("New Folder");
    for (int n = 2; dir.exists(name); ++n)
        name = QStringLiteral("New Folder (%1)").arg(n);
    return name;
}

void frmDir::NewFolder()
{
    const QModelIndex parent = tvwFolders->currentIndex();
    if (!parent.isValid())
        return;
    const QString parentPath = m_model->filePath(parent);
    const QString name = newFolderName(parentPath);
    // The model creates the folder and adds it to the tree at once.
    const QModelIndex created = m_model->mkdir(parent, name);
    if (!created.isValid()) {
        if (m_prompts) {
            m_prompts->inform(QStringLiteral("The folder \"%1\" could not be created in %2.")
                                  .arg(name, QDir::toNativeSeparators(parentPath)),
                              windowTitle(), PromptIcon::Warning, this);
        }
        return;
    }
    tvwFolders->expand(parent);
    tvwFolders->setCurrentIndex(created);
}
