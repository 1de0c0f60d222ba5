#pragma once

#include "platform/captionlookup.h"

#include <QDialog>

class Prompts;
class QGroupBox;
class QLineEdit;
class QPushButton;

// The save prompt: shows a URL and where it is to be saved, and lets the
// user begin the download now, add it to the list for later, pick another
// file name, or cancel. The prompt only collects the answer; beginRequested
// and laterRequested carry it to whoever opened it.
class frmFile : public QDialog {
    Q_OBJECT

public:
    // owner is the main window: the prompt and its file dialogs belong to it.
    frmFile(const CaptionLookup &captions, Prompts *prompts, QWidget *owner = nullptr);

    // Set before load(): the URL to save, and the folder the first file
    // dialog opens in.
    QString URL;
    QString startFolder;

    // Fills the URL box and asks for the save path at once. False when that
    // file dialog was cancelled: the prompt then has nothing to offer and
    // the caller drops it. A chosen path fills the save-path box and is
    // reported by lastSavePathChosen.
    bool load();

    QGroupBox *const fraFileInfo;
    QLineEdit *const txtURL;
    QLineEdit *const txtSaveAs;
    QPushButton *const cmdBegin;
    QPushButton *const cmdLater;
    QPushButton *const cmdChange;
    QPushButton *const cmdCancel;

    static const QString FileFilter;

public Q_SLOTS:
    void BeginDownload();
    void DownloadLater();
    // Offers the file dialog again; the chosen name replaces the save path
    // but is not remembered as the last save path.
    void Change();

Q_SIGNALS:
    void lastSavePathChosen(const QString &path);
    void beginRequested(const QString &url, const QString &savePath);
    void laterRequested(const QString &url, const QString &savePath);

private:
    bool bothFilled() const;

    CaptionLookup m_captions;
    Prompts *m_prompts;
    QWidget *m_owner;
    bool m_changing = false;
};
