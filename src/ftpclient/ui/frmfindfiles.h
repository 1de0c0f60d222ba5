#pragma once

#include <QDialog>
#include <QStringList>

class Prompts;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// Finds local files: a name mask ("*.txt;report*", ignoring case), the folder
// to search below (with its sub-folders; links are not entered) and the list
// of what was found. "Show Folder" (or a double click on a result) asks the
// local pane to show the result's folder with the result selected.
class frmFindFiles : public QDialog {
    Q_OBJECT

public:
    explicit frmFindFiles(Prompts *prompts, const QString &folder, QWidget *parent = nullptr);

    void setFolder(const QString &folder);
    void setMask(const QString &mask);
    // Searches and fills the results list; returns the number found.
    int Find();
    // The full paths found by the last search, in list order.
    QStringList results() const { return m_results; }
    // Asks for the folder of result row (the current row when -1).
    void ShowResultFolder(int row = -1);
    void Browse();

    QLineEdit *txtMask = nullptr;
    QLineEdit *txtFolder = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QPushButton *cmdFind = nullptr;
    QPushButton *cmdShowFolder = nullptr;
    QTreeWidget *lstResults = nullptr;
    QLabel *lblStatus = nullptr;

signals:
    // folder ends in "/"; name is the entry to select in it.
    void showFolderRequested(const QString &folder, const QString &name);

private:
    Prompts *m_prompts;
    QStringList m_results;
};
