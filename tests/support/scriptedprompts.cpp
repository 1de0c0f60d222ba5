#include "scriptedprompts.h"

#include <QTest>

namespace {
const char *kindName(ScriptedPrompts::Record::Kind kind)
{
    switch (kind) {
    case ScriptedPrompts::Record::Message: return "message box";
    case ScriptedPrompts::Record::Input: return "input box";
    case ScriptedPrompts::Record::File: return "file dialog";
    case ScriptedPrompts::Record::Folder: return "folder dialog";
    }
    return "prompt";
}
} // namespace

ScriptedPrompts::~ScriptedPrompts() = default;

ScriptedPrompts &ScriptedPrompts::expectMessage(const QString &textPart, PromptAnswer answer)
{
    m_script.push_back({Record::Message, textPart, answer, std::nullopt});
    return *this;
}

ScriptedPrompts &ScriptedPrompts::expectInput(const QString &promptPart, std::optional<QString> answer)
{
    m_script.push_back({Record::Input, promptPart, PromptAnswer::Ok, std::move(answer)});
    return *this;
}

ScriptedPrompts &ScriptedPrompts::expectFile(const QString &titlePart, const QString &answer)
{
    m_script.push_back({Record::File, titlePart, PromptAnswer::Ok, answer});
    return *this;
}

ScriptedPrompts &ScriptedPrompts::expectFolder(const QString &titlePart, const QString &answer)
{
    m_script.push_back({Record::Folder, titlePart, PromptAnswer::Ok, answer});
    return *this;
}

const ScriptedPrompts::Step *ScriptedPrompts::take(Record::Kind kind, const QString &haystack)
{
    if (m_script.empty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected %1: \"%2\"")
                                    .arg(QLatin1String(kindName(kind)), haystack)),
                     __FILE__, __LINE__);
        return nullptr;
    }
    const Step &next = m_script.front();
    if (next.kind != kind || !haystack.contains(next.part)) {
        QTest::qFail(qPrintable(QStringLiteral("expected %1 containing \"%2\", got %3: \"%4\"")
                                    .arg(QLatin1String(kindName(next.kind)), next.part,
                                         QLatin1String(kindName(kind)), haystack)),
                     __FILE__, __LINE__);
        m_script.pop_front();
        return nullptr;
    }
    m_current = next;
    m_script.pop_front();
    return &m_current;
}

PromptAnswer ScriptedPrompts::message(const MessageRequest &request)
{
    m_records.append({Record::Message, request.text, request.title, request.icon, request.buttons, {}});
    const Step *step = take(Record::Message, request.text);
    return step ? step->answer : PromptAnswer::Cancel;
}

std::optional<QString> ScriptedPrompts::input(const InputRequest &request)
{
    m_records.append({Record::Input, request.prompt, request.title, PromptIcon::None, PromptButtons::OkCancel, {}});
    const Step *step = take(Record::Input, request.prompt);
    return step ? step->text : std::nullopt;
}

QString ScriptedPrompts::file(const FileDialogRequest &request)
{
    m_records.append({Record::File, request.title, request.title, PromptIcon::None, PromptButtons::OkCancel, request});
    const Step *step = take(Record::File, request.title);
    return step && step->text ? *step->text : QString();
}

QString ScriptedPrompts::folder(const FolderRequest &request)
{
    m_records.append({Record::Folder, request.title, request.title, PromptIcon::None, PromptButtons::OkCancel, {}});
    const Step *step = take(Record::Folder, request.title);
    return step && step->text ? *step->text : QString();
}

void ScriptedPrompts::verifyDone(const char *file, int line)
{
    if (!m_script.empty()) {
        QTest::qFail(qPrintable(QStringLiteral("%1 expected prompt(s) never came; next: %2 \"%3\"")
                                    .arg(m_script.size())
                                    .arg(QLatin1String(kindName(m_script.front().kind)), m_script.front().part)),
                     file, line);
    }
}
