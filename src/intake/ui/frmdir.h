#pragma once

#include "platform/captionlookup.h"

#include <QDialog>

class Prompts;
class QAction;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QToolBar;
class QTreeView;

// The folder chooser: a tree of the file system's folders, a path box that
// shows the folder selected in the tree (and may be edited), a toolbar
// button that creates a new folder under the selection, and Ok / Cancel.
// Ok stores the path box's text in strDirPath and hides the chooser; Cancel
// only hides it, so strDirPath keeps its earlier value. The caller shows it
// modally and reads strDirPath afterwards.
class frmDir : public QDialog {
    Q_OBJECT

public:
    // prompts reports a folder that could not be created.
    frmDir(const CaptionLookup &captions, Prompts *prompts, QWidget *parent = nullptr);

    // The folder the tree shows selected (and the path box holds).
    void selectFolder(const QString &path);
    // The folder selected in the tree; empty without a selection.
    QString selectedFolder() const;

    QString strDirPath;

    QTreeView *const tvwFolders;
    QLineEdit *const txtPath;
    QToolBar *const tlbTools;
    QAction *const actNewFolder; // key and tooltip "newfolder"
    QPushButton *const cmdOk;
    QPushButton *const cmdCancel;

    // The name a new folder gets: "New Folder", or "New Folder (n)" with the
    // lowest n from 2 that is not taken in parent.
    static QString newFolderName(const QString &parent);

public Q_SLOTS:
    // Creates a folder under the selection, refreshes the tree and selects it.
    void NewFolder();

private:
    QFileSystemModel *const m_model;
    Prompts *m_prompts;
};
