#pragma once

#include "platform/prompts.h"

// Prompts shown with Qt's message boxes, input dialogs and file dialogs.
// Each runs modally in a nested event loop, so transfers go on meanwhile.
class QtPrompts final : public Prompts {
public:
    PromptAnswer message(const MessageRequest &request) override;
    std::optional<QString> input(const InputRequest &request) override;
    QString file(const FileDialogRequest &request) override;
    QString folder(const FolderRequest &request) override;
};
