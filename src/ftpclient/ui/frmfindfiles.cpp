#include "ftpclient/ui/frmfindfiles.h"

#include "ftpclient/localpaths.h"
#include "platform/prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

frmFindFiles::frmFindFiles(Prompts *prompts, const QString &folder, QWidget *parent)
    : QDialog(parent), m_prompts(prompts)
{
    setWindowTitle(QStringLiteral("Find File(s)"));
    txtMask = new QLineEdit(QStringLiteral("*"), this);
    txtMask->setToolTip(QStringLiteral("Names to find, for example *.txt;report*"));
    txtFolder = new QLineEdit(folder, this);
    cmdBrowse = new QPushButton(QStringLiteral("Browse..."), this);
    cmdFind = new QPushButton(QStringLiteral("Find"), this);
    cmdFind->setDefault(true);
    cmdShowFolder = new QPushButton(QStringLiteral("Show Folder"), this);
    cmdShowFolder->setEnabled(false);
    auto *cmdClose = new QPushButton(QStringLiteral("Close"), this);
    lstResults = new QTreeWidget(this);
    lstResults->setColumnCount(4);
    lstResults->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("In Folder"), QStringLiteral("Size (bytes)"),
                                 QStringLiteral("Date")});
    lstResults->setRootIsDecorated(false);
    lstResults->setUniformRowHeights(true);
    lstResults->header()->setStretchLastSection(true);
    lstResults->setColumnWidth(0, 180);
    lstResults->setColumnWidth(1, 260);
    lblStatus = new QLabel(this);

    auto *fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("Named:"), this), 0, 0);
    fields->addWidget(txtMask, 0, 1, 1, 2);
    fields->addWidget(new QLabel(QStringLiteral("Look in:"), this), 1, 0);
    fields->addWidget(txtFolder, 1, 1);
    fields->addWidget(cmdBrowse, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdFind);
    buttons->addWidget(cmdShowFolder);
    buttons->addStretch(1);
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->addWidget(lstResults, 1);
    layout->addWidget(lblStatus);
    resize(640, 420);

    connect(cmdFind, &QPushButton::clicked, this, [this] { Find(); });
    connect(cmdBrowse, &QPushButton::clicked, this, &frmFindFiles::Browse);
    connect(cmdShowFolder, &QPushButton::clicked, this, [this] { ShowResultFolder(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(lstResults, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item) { ShowResultFolder(lstResults->indexOfTopLevelItem(item)); });
    connect(lstResults, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { cmdShowFolder->setEnabled(current != nullptr); });
}

void frmFindFiles::setFolder(const QString &folder) { txtFolder->setText(folder); }

void frmFindFiles::setMask(const QString &mask) { txtMask->setText(mask); }

void frmFindFiles::Browse()
{
    if (!m_prompts)
        return;
    const QString chosen = m_prompts->folder({QStringLiteral("Look in"), txtFolder->text(), this});
    if (!chosen.isEmpty())
        txtFolder->setText(chosen);
}

int frmFindFiles::Find()
{
    lstResults->clear();
    m_results.clear();
    const QString folder = localpath::fromTyped(txtFolder->text(), QDir::homePath());
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        lblStatus->setText(QStringLiteral("No such folder: ") + txtFolder->text());
        return 0;
    }
    bool truncated = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_results = localpath::findFiles(folder, txtMask->text(), {}, &truncated);
    QApplication::restoreOverrideCursor();
    for (const QString &path : std::as_const(m_results)) {
        const QFileInfo info(path);
        auto *item = new QTreeWidgetItem(lstResults);
        item->setText(0, info.fileName());
        item->setText(1, localpath::withTrailingSlash(info.path()));
        if (!info.isDir())
            item->setText(2, QString::number(info.size()));
        item->setText(3, QLocale().toString(info.lastModified(), QLocale::ShortFormat));
        item->setToolTip(0, path);
    }
    lblStatus->setText(QString::number(m_results.size()) + QStringLiteral(" found")
                       + (truncated ? QStringLiteral(" (search stopped at its limit)") : QString()));
    if (!m_results.isEmpty())
        lstResults->setCurrentItem(lstResults->topLevelItem(0));
    return int(m_results.size());
}

void frmFindFiles::ShowResultFolder(int row)
{
    if (row < 0)
        row = lstResults->indexOfTopLevelItem(lstResults->currentItem());
    if (row < 0 || row >= m_results.size())
        return;
    const QFileInfo info(m_results.at(row));
    emit showFolderRequested(localpath::withTrailingSlash(info.path()), info.fileName());
}
