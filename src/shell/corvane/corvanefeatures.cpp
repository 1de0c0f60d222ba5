#include "shell/corvane/corvanefeatures.h"

#include "config/cregister.h"
#include "ftpclient/console.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/options.h"
#include "ftpclient/remoteops.h"
#include "ftpclient/sync.h"
#include "ftpclient/transfers.h"
#include "ftpclient/translog.h"
#include "ftpclient/ui/customcommandpanel.h"
#include "ftpclient/ui/frmoptions.h"
#include "ftpclient/ui/localpane.h"
#include "platform/autostart.h"
#include "platform/prompts.h"

#include <QApplication>
#include <QGroupBox>
#include <QLayout>
#include <QListWidget>
#include <QProgressBar>

namespace {
const QString ConnectedVar = QStringLiteral("_root.Connected");
const QString ProgressVar = QStringLiteral("_root.Progress_mc._xscale");
} // namespace

CorvaneFeatures::CorvaneFeatures(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)),
      m_log(std::make_unique<TransferLog>(m_services.programDir, m_services.reg))
{
}

CorvaneFeatures::~CorvaneFeatures()
{
    while (m_waits > 0)
        setWait(false);
}

frmMain::Services::Hooks CorvaneFeatures::hooks(frmMain::Services::Hooks given)
{
    const auto keep = [](auto &hook, auto fallback) {
        if (!hook)
            hook = std::move(fallback);
    };
    keep(given.logMaintenance, [this] { maintainLog(); });
    keep(given.transferLog, [this](const QString &m) { writeLog(m); });
    keep(given.options, [this] { showOptions(); });
    keep(given.syncLocalFromRemote, [this] { syncLocalFromRemote(); });
    keep(given.syncRemoteFromLocal, [this] { syncRemoteFromLocal(); });
    keep(given.customCommand, [this] { showCustomCommand(); });
    keep(given.manualReceive, [this] {
        if (m_console)
            m_console->ManualFileReceive();
    });
    keep(given.manualSend, [this] {
        if (m_console)
            m_console->ManualFileSend();
    });
    keep(given.ftpCommand, [this](const QString &caption) { runFtpCommand(caption); });
    return given;
}

void CorvaneFeatures::attach(frmMain &window)
{
    m_window = &window;
    FtpConsole::Services cs;
    cs.ftp = m_services.ftp;
    cs.prompts = m_services.prompts;
    cs.appTitle = m_services.appTitle;
    cs.localPath = [this] { return m_window->strLocalPath; };
    // The typed-name prompt of the manual transfers.
    cs.namePrompt = [this](const QString &prompt, const QString &title, const QString &text) {
        return m_services.prompts->input({prompt, title, text, false, m_window});
    };
    m_console = std::make_unique<FtpConsole>(cs);
    connect(m_console.get(), &FtpConsole::busyChanged, this, &CorvaneFeatures::setWait);
    connect(m_console.get(), &FtpConsole::message, m_window, &frmMain::DisplayMessage);
    connect(m_console.get(), &FtpConsole::localRelistRequested, m_window, [this] {
        m_window->localPane()->RefreshLocalList();
        m_window->UpdateLocalCommands();
    });
    connect(m_console.get(), &FtpConsole::remoteRelistRequested, m_window, [this] {
        m_window->RefreshRemoteList();
        m_window->UpdateRemoteCommands();
    });

    m_panel = new CustomCommandPanel(m_console.get(), window.frameCustomCommand);
    if (QLayout *place = window.frameCustomCommand->layout())
        place->addWidget(m_panel);
    connect(m_panel, &CustomCommandPanel::closeRequested, this, &CorvaneFeatures::closeCustomCommand);
}

void CorvaneFeatures::maintainLog()
{
    if (!m_services.reg)
        return;
    QString why;
    int number = 0;
    if (!TransferLog::maintain(m_services.programDir, *m_services.reg, &why, &number) && m_services.prompts)
        m_services.prompts->inform(why + QStringLiteral(" Err No.") + QString::number(number), m_services.programDir,
                                   PromptIcon::Error, m_window);
}

void CorvaneFeatures::writeLog(const QString &message)
{
    QString why;
    if (!m_log->write(message, &why) && m_services.prompts)
        m_services.prompts->inform(why, m_services.appTitle, PromptIcon::Error, m_window);
}

void CorvaneFeatures::showOptions()
{
    Autostart autostart = m_services.autostartDirectory.isEmpty() ? Autostart()
                                                                   : Autostart(m_services.autostartDirectory);
    QStringList ascii = m_window ? m_window->transfers()->autoTypes() : QStringList();
    frmOptions dialog({m_services.programDir, m_services.prompts, m_services.reg, &autostart,
                       m_services.executablePath, &ascii, m_services.appTitle},
                      m_window);
    dialog.exec();
    if (m_window)
        m_window->transfers()->setAutoTypes(ascii);
}

void CorvaneFeatures::setWait(bool busy)
{
    if (busy) {
        ++m_waits;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_waits > 0) {
        --m_waits;
        QApplication::restoreOverrideCursor();
    }
}

void CorvaneFeatures::setProgress(int percent)
{
    const int value = qBound(0, percent, 100);
    m_window->prgStatus->setValue(value);
    m_window->setMovieVariable(ProgressVar, QString::number(value));
}

void CorvaneFeatures::syncLocalFromRemote()
{
    sync(true);
}

void CorvaneFeatures::syncRemoteFromLocal()
{
    sync(false);
}

void CorvaneFeatures::sync(bool receiving)
{
    if (!m_window || !m_services.ftp)
        return;
    frmMain &w = *m_window;
    CRegister *reg = m_services.reg;
    DirectorySync run(*m_services.ftp, [reg] {
        return reg && syncBySize(*reg) ? DirectorySync::Mode::BySize : DirectorySync::Mode::ByDate;
    });
    // The run's state shows on the pointer, the Abort button, the progress
    // bar, the message list, the status line, the overlay and the panes.
    bool waiting = false;
    connect(&run, &DirectorySync::busyChanged, this, [&](bool busy) {
        if (busy != waiting) {
            setWait(busy);
            waiting = busy;
        }
        w.SetAbortEnabled(busy);
    });
    connect(&run, &DirectorySync::progressChanged, this, &CorvaneFeatures::setProgress);
    connect(&run, &DirectorySync::message, &w, &frmMain::DisplayMessage);
    connect(&run, &DirectorySync::status, &w, &frmMain::UpdateAction);
    connect(&run, &DirectorySync::relistRequested, &w, [&w] {
        w.RefreshRemoteList();
        w.localPane()->RefreshLocalList();
    });
    // The remote pane's overlay is the remote operations' to show.
    connect(&run, &DirectorySync::overlayChanged, &w, [&w](bool shown) { emit w.remoteOps()->overlayVisible(shown); });
    connect(&run, &DirectorySync::connectionIndicatorOff, &w, [&w] { w.setMovieVariable(ConnectedVar, QStringLiteral("0")); });
    const QMetaObject::Connection progress = connect(
        m_services.ftp, &FtpComponent::transferStatus, this,
        [this](const QString &, const QString &, qint64, qint64, int percent) { setProgress(percent); });
    const QString local = w.strLocalPath;
    const QString remote = m_services.ftp->currentState() == FtpComponent::NotConnected ? QString() : w.GetRemoteFolder();
    if (receiving)
        run.SyncLocalFromRemote(local, remote);
    else
        run.SyncRemoteFromLocal(local, remote);
    disconnect(progress);
    if (waiting)
        setWait(false);
}

void CorvaneFeatures::showCustomCommand()
{
    if (!m_window)
        return;
    m_window->frameQuickConnect->hide();
    m_window->FrameMainLists->hide();
    // The exchange shows in the message list, which stays in view.
    m_window->frameLog->show();
    m_window->frameCustomCommand->show();
    m_window->lstConnectionInfo->scrollToBottom();
    if (m_panel)
        m_panel->focusCommand();
}

void CorvaneFeatures::closeCustomCommand()
{
    if (!m_window)
        return;
    m_window->frameQuickConnect->show();
    m_window->FrameMainLists->show();
    m_window->frameLog->show();
    m_window->frameCustomCommand->hide();
}

void CorvaneFeatures::runFtpCommand(const QString &caption)
{
    if (!m_console)
        return;
    for (const FtpConsole::Command command : FtpConsole::menuOrder()) {
        if (FtpConsole::caption(command) == caption) {
            m_console->run(command);
            return;
        }
    }
}
