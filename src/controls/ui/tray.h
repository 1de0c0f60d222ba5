#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <chrono>
#include <memory>

// The desktop's notification area as the tray control sees it. The control
// talks only to this interface, so tests hand in a host whose availability
// and clicks they control.
class TrayHost : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~TrayHost() override = default;

    // Whether the desktop has a notification area at the moment.
    virtual bool isAvailable() const = 0;
    // Puts the icon with its tip into the notification area, or updates it
    // when it is there already.
    virtual void showIcon(const QIcon &icon, const QString &tip) = 0;
    virtual void hideIcon() = 0;
    // Shows a balloon message with the information icon beside the tray icon.
    virtual void showMessage(const QString &title, const QString &text) = 0;

Q_SIGNALS:
    // A click or other activation of the icon, in Qt's terms.
    void activated(QSystemTrayIcon::ActivationReason reason);
};

// The host of the running desktop, over QSystemTrayIcon. The icon object is
// created only when the desktop has a tray, so a desktop without one never
// sees a call (and Qt prints no warnings).
class QtTrayHost final : public TrayHost {
    Q_OBJECT

public:
    explicit QtTrayHost(QObject *parent = nullptr);
    ~QtTrayHost() override;

    bool isAvailable() const override;
    void showIcon(const QIcon &icon, const QString &tip) override;
    void hideIcon() override;
    void showMessage(const QString &title, const QString &text) override;

private:
    QSystemTrayIcon *m_icon = nullptr;
};

// The most characters the desktop's tip, balloon title and balloon text hold,
// each including the place kept for the terminator.
inline constexpr int TrayTipCapacity = 128;
inline constexpr int TrayBalloonTitleCapacity = 64;
inline constexpr int TrayBalloonTextCapacity = 256;

// The tip shown for a tooltip: empty for an empty tooltip, otherwise the
// tooltip between two blanks, cut so that one place of the 128 stays free
// for the terminator (at most 127 characters).
QString trayTipText(const QString &toolTip);

// Cuts text to capacity - 1 characters.
QString trayCut(const QString &text, int capacity);

// One icon in the notification area, with a tooltip, a balloon message and
// click events. Where the desktop has no notification area the control does
// nothing and reports nothing; IsVisible then stays false so the holder knows
// the icon cannot bring a hidden window back.
//
// Clicks: a left click raises LeftClick, a right click RightClick (EventMode
// 0), or both raise MouseClick(1 or 2) in EventMode 1. While a click event
// is being delivered, and for a short settle period after its handlers have
// returned, further clicks are dropped, so a second click that arrives while
// a handler's popup menu is still open does not open another one.
class Tray : public QObject {
    Q_OBJECT
    Q_PROPERTY(QIcon TrayImage READ TrayImage WRITE setTrayImage)
    Q_PROPERTY(QString TrayToolTip READ TrayToolTip WRITE setTrayToolTip)
    Q_PROPERTY(QString TrayBalloonToolTip READ TrayBalloonToolTip WRITE setTrayBalloonToolTip)
    Q_PROPERTY(int EventMode READ EventMode WRITE setEventMode)
    Q_PROPERTY(bool IsVisible READ IsVisible)

public:
    enum Button { LeftButton = 1, RightButton = 2 };

    // The control on the running desktop's notification area.
    explicit Tray(QObject *parent = nullptr);
    // The control on the given host. settlePeriod is how long clicks stay
    // dropped after a click's handlers have returned.
    explicit Tray(std::unique_ptr<TrayHost> host, QObject *parent = nullptr,
                  std::chrono::milliseconds settlePeriod = std::chrono::milliseconds(15));
    ~Tray() override;

    QIcon TrayImage() const { return m_image; }
    void setTrayImage(const QIcon &icon);
    // A picture that is not an icon becomes a 32 x 32 icon (kept in
    // proportion, centred on a transparent square).
    void setTrayImage(const QPixmap &picture);

    QString TrayToolTip() const { return m_toolTip; }
    void setTrayToolTip(const QString &text);

    QString TrayBalloonToolTip() const { return m_balloonText; }
    void setTrayBalloonToolTip(const QString &text) { m_balloonText = text; }

    int EventMode() const { return m_eventMode; }
    // Clamped to 0..1.
    void setEventMode(int mode);

    bool IsVisible() const { return m_visible; }
    // Whether the desktop has a notification area.
    bool isAvailable() const;
    // Whether a click is being delivered or settling.
    bool isBusy() const { return m_busy; }

    // true: adds the icon, or updates icon and tip when it is shown already.
    // false: removes the icon when it is shown.
    void Show(bool update);
    // true: shows the balloon with TrayBalloonToolTip as its text and
    // TrayToolTip as its title on the shown icon; false: nothing.
    void showBalloonoolTip(bool update);

Q_SIGNALS:
    void LeftClick();
    void RightClick();
    void MouseClick(int button);

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void raiseClick(Button button);

    std::unique_ptr<TrayHost> m_host;
    QTimer m_settle;
    QIcon m_image;
    QString m_toolTip;
    QString m_balloonText;
    int m_eventMode = 0;
    bool m_visible = false;
    bool m_busy = false;
};
