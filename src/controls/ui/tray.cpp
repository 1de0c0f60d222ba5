#include "controls/ui/tray.h"

#include <QPainter>
#include <QPointer>

QtTrayHost::QtTrayHost(QObject *parent) : TrayHost(parent) {}

QtTrayHost::~QtTrayHost()
{
    hideIcon();
}

bool QtTrayHost::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayHost::showIcon(const QIcon &icon, const QString &tip)
{
    if (!isAvailable())
        return;
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(this);
        connect(m_icon, &QSystemTrayIcon::activated, this, &TrayHost::activated);
    }
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    if (!icon.isNull()) // Qt refuses (with a warning) to show an icon without a picture
        m_icon->show();
}

void QtTrayHost::hideIcon()
{
    if (m_icon)
        m_icon->hide();
}

void QtTrayHost::showMessage(const QString &title, const QString &text)
{
    if (m_icon && m_icon->isVisible())
        m_icon->showMessage(title, text, QSystemTrayIcon::Information);
}

QString trayCut(const QString &text, int capacity)
{
    return text.left(qMax(0, capacity - 1));
}

QString trayTipText(const QString &toolTip)
{
    if (toolTip.isEmpty())
        return {};
    return trayCut(QLatin1Char(' ') + toolTip + QLatin1Char(' '), TrayTipCapacity);
}

Tray::Tray(QObject *parent) : Tray(std::make_unique<QtTrayHost>(), parent) {}

Tray::Tray(std::unique_ptr<TrayHost> host, QObject *parent, std::chrono::milliseconds settlePeriod)
    : QObject(parent), m_host(std::move(host))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settlePeriod);
    connect(&m_settle, &QTimer::timeout, this, [this] { m_busy = false; });
    connect(m_host.get(), &TrayHost::activated, this, &Tray::onActivated);
}

Tray::~Tray()
{
    // The icon goes with its control; a stale one would stay until the
    // pointer passes over it.
    Show(false);
}

void Tray::setTrayImage(const QIcon &icon)
{
    m_image = icon;
    if (m_visible)
        m_host->showIcon(m_image, trayTipText(m_toolTip));
}

void Tray::setTrayImage(const QPixmap &picture)
{
    if (picture.isNull()) {
        setTrayImage(QIcon());
        return;
    }
    QPixmap square(32, 32);
    square.fill(Qt::transparent);
    const QPixmap scaled = picture.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawPixmap((32 - scaled.width()) / 2, (32 - scaled.height()) / 2, scaled);
    painter.end();
    setTrayImage(QIcon(square));
}

void Tray::setTrayToolTip(const QString &text)
{
    m_toolTip = text;
    if (m_visible)
        m_host->showIcon(m_image, trayTipText(m_toolTip));
}

void Tray::setEventMode(int mode)
{
    m_eventMode = qBound(0, mode, 1);
}

bool Tray::isAvailable() const
{
    return m_host->isAvailable();
}

void Tray::Show(bool update)
{
    if (update) {
        if (!m_host->isAvailable())
            return;
        m_host->showIcon(m_image, trayTipText(m_toolTip));
        m_visible = true;
    } else if (m_visible) {
        m_host->hideIcon();
        m_visible = false;
    }
}

void Tray::showBalloonoolTip(bool update)
{
    if (!update || !m_visible)
        return;
    m_host->showIcon(m_image, trayTipText(m_toolTip));
    m_host->showMessage(trayCut(m_toolTip, TrayBalloonTitleCapacity),
                        trayCut(m_balloonText, TrayBalloonTextCapacity));
}

void Tray::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        raiseClick(LeftButton);
        break;
    case QSystemTrayIcon::Context:
        raiseClick(RightButton);
        break;
    default: // double and middle clicks are not events of the control
        break;
    }
}

void Tray::raiseClick(Button button)
{
    if (m_busy)
        return;
    m_busy = true;
    m_settle.stop();
    // A handler may end the program and delete the control.
    const QPointer<Tray> self(this);
    if (m_eventMode == 1)
        Q_EMIT MouseClick(button);
    else if (button == LeftButton)
        Q_EMIT LeftClick();
    else
        Q_EMIT RightClick();
    // Armed only now, after the handlers have returned: a handler that runs
    // a nested event loop (a popup menu) keeps the flag set all the while.
    if (self)
        m_settle.start();
}
