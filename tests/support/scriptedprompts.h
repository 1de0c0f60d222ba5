#pragma once

#include "platform/prompts.h"

#include <QList>
#include <QString>

#include <deque>
#include <variant>

// Prompts answered from a script. Each expectation names the kind of prompt
// and text the prompt must contain; prompts arrive in script order. A prompt
// that the script did not expect fails the running test and is answered with
// Cancel (or nothing). Every prompt is recorded.
class ScriptedPrompts final : public Prompts {
public:
    struct Record {
        enum Kind { Message, Input, File, Folder } kind;
        QString text;  // message text, input prompt, dialog title
        QString title;
        PromptIcon icon = PromptIcon::None;
        PromptButtons buttons = PromptButtons::Ok;
        FileDialogRequest fileRequest;
    };

    ~ScriptedPrompts() override;

    // Expect a message box whose text contains textPart (empty matches any).
    ScriptedPrompts &expectMessage(const QString &textPart, PromptAnswer answer = PromptAnswer::Ok);
    ScriptedPrompts &expectInput(const QString &promptPart, std::optional<QString> answer);
    ScriptedPrompts &expectFile(const QString &titlePart, const QString &answer);
    ScriptedPrompts &expectFolder(const QString &titlePart, const QString &answer);

    PromptAnswer message(const MessageRequest &request) override;
    std::optional<QString> input(const InputRequest &request) override;
    QString file(const FileDialogRequest &request) override;
    QString folder(const FolderRequest &request) override;

    const QList<Record> &records() const { return m_records; }
    const Record &last() const { return m_records.constLast(); }
    int pending() const { return int(m_script.size()); }
    // Fails the running test when expectations are left over.
    void verifyDone(const char *file, int line);

private:
    struct Step {
        Record::Kind kind;
        QString part;
        PromptAnswer answer = PromptAnswer::Ok;
        std::optional<QString> text;
    };
    const Step *take(Record::Kind kind, const QString &haystack);

    std::deque<Step> m_script;
    Step m_current;
    QList<Record> m_records;
};

#define VERIFY_PROMPTS_DONE(prompts) (prompts).verifyDone(__FILE__, __LINE__)
