#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QObject;

// Every message box, question, input box and file or folder dialog of both
// programs goes through this interface. The programs hand in an
// implementation built on Qt dialogs; tests hand in one that answers from a
// script and fails on any prompt the script did not expect.
enum class PromptIcon { None, Information, Warning, Error, Question };

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };

enum class PromptAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

struct MessageRequest {
    QString text;
    QString title;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
    QObject *owner = nullptr; // the window the box belongs to, when there is one
};

struct InputRequest {
    QString prompt;
    QString title;
    QString defaultText;
    bool password = false;
    QObject *owner = nullptr;
};

enum class FileDialogKind { Open, Save };

struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString title;
    // Filter pairs in the form "Description|pattern|Description|pattern",
    // for example "All Files(*.*)|*.*".
    QString filter;
    QString directory;    // where the dialog starts
    QString fileName;     // the proposed file name
    bool stayOnTop = false;
    QObject *owner = nullptr;
};

struct FolderRequest {
    QString title;
    QString directory;
    QObject *owner = nullptr;
};

class Prompts {
public:
    virtual ~Prompts() = default;

    virtual PromptAnswer message(const MessageRequest &request) = 0;
    // The typed text, or nothing when the box was cancelled.
    virtual std::optional<QString> input(const InputRequest &request) = 0;
    // The chosen full path, empty when cancelled.
    virtual QString file(const FileDialogRequest &request) = 0;
    // The chosen folder, empty when cancelled.
    virtual QString folder(const FolderRequest &request) = 0;

    // Shorthand for a box with one OK button.
    void inform(const QString &text, const QString &title, PromptIcon icon = PromptIcon::None,
                QObject *owner = nullptr)
    {
        message({text, title, icon, PromptButtons::Ok, owner});
    }
    PromptAnswer ask(const QString &text, const QString &title, PromptButtons buttons,
                     PromptIcon icon = PromptIcon::Question, QObject *owner = nullptr)
    {
        return message({text, title, icon, buttons, owner});
    }
};

// Splits a "Description|pattern|..." filter into Qt's "Description (pattern)" list.
QStringList filterToNameFilters(const QString &filter);
