#include "platform/ui/qtprompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QWidget>

namespace {

QWidget *ownerWidget(QObject *owner)
{
    return qobject_cast<QWidget *>(owner);
}

QMessageBox::Icon toIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toButtons(PromptButtons buttons)
{
    switch (buttons) {
    case PromptButtons::Ok: return QMessageBox::Ok;
    case PromptButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case PromptButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case PromptButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case PromptButtons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

PromptAnswer fromButton(int button, PromptButtons buttons)
{
    switch (button) {
    case QMessageBox::Ok: return PromptAnswer::Ok;
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Retry: return PromptAnswer::Retry;
    case QMessageBox::Abort: return PromptAnswer::Abort;
    case QMessageBox::Ignore: return PromptAnswer::Ignore;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    default: break;
    }
    // Closed by its frame: the answer that changes nothing.
    if (buttons == PromptButtons::YesNo)
        return PromptAnswer::No;
    if (buttons == PromptButtons::Ok)
        return PromptAnswer::Ok;
    return PromptAnswer::Cancel;
}

} // namespace

PromptAnswer QtPrompts::message(const MessageRequest &request)
{
    QMessageBox box(toIcon(request.icon), request.title, request.text, toButtons(request.buttons),
                    ownerWidget(request.owner));
    const int result = box.exec();
    return fromButton(result, request.buttons);
}

std::optional<QString> QtPrompts::input(const InputRequest &request)
{
    bool ok = false;
    const QString text = QInputDialog::getText(ownerWidget(request.owner), request.title, request.prompt,
                                               request.password ? QLineEdit::Password : QLineEdit::Normal,
                                               request.defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString QtPrompts::file(const FileDialogRequest &request)
{
    QFileDialog dialog(ownerWidget(request.owner), request.title, request.directory);
    dialog.setAcceptMode(request.kind == FileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.kind == FileDialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = filterToNameFilters(request.filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (request.stayOnTop)
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtPrompts::folder(const FolderRequest &request)
{
    return QFileDialog::getExistingDirectory(ownerWidget(request.owner), request.title, request.directory);
}
