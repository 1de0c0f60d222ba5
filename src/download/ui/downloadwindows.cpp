#include "download/ui/downloadwindows.h"

#include "download/ui/frmdownload.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#include <algorithm>

DownloadWindowTable::DownloadWindowTable(QObject *parent)
    : QObject(parent)
{
}

DownloadWindowTable::~DownloadWindowTable()
{
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (frmDownload *window = m_slots[slot]) {
            disconnect(window, nullptr, this, nullptr);
            m_slots[slot] = nullptr;
            m_objects[slot] = nullptr;
            delete window;
        }
    }
}

frmDownload *DownloadWindowTable::at(int slot) const
{
    return isValidSlot(slot) ? m_slots[slot] : nullptr;
}

frmDownload *DownloadWindowTable::create(int slot, const frmDownload::Services &services, DownloadId id)
{
    if (!isValidSlot(slot) || m_slots[slot])
        return nullptr;
    auto *window = new frmDownload(services, id);
    window->intAssignedIndex = slot;
    m_slots[slot] = window;
    m_objects[slot] = window;
    // A closed window deletes itself; its slot is free again.
    connect(window, &QObject::destroyed, this, [this, slot](QObject *object) {
        if (m_objects[slot] == object)
            forget(slot);
    });
    Q_EMIT windowCreated(slot, window);
    return window;
}

frmDownload *DownloadWindowTable::windowOf(DownloadId id) const
{
    if (id == 0)
        return nullptr;
    for (frmDownload *window : m_slots) {
        if (window && window->downloadId() == id)
            return window;
    }
    return nullptr;
}

frmDownload *DownloadWindowTable::take(int slot)
{
    frmDownload *window = at(slot);
    if (!window)
        return nullptr;
    disconnect(window, nullptr, this, nullptr);
    forget(slot);
    return window;
}

void DownloadWindowTable::release(int slot)
{
    if (frmDownload *window = take(slot))
        window->deleteLater();
}

void DownloadWindowTable::forget(int slot)
{
    m_slots[slot] = nullptr;
    m_objects[slot] = nullptr;
    Q_EMIT slotFreed(slot);
}

int DownloadWindowTable::firstFreeSlot() const
{
    const auto free = std::find(m_slots.begin(), m_slots.end(), nullptr);
    return free == m_slots.end() ? -1 : int(free - m_slots.begin());
}

int DownloadWindowTable::slotOf(const frmDownload *window) const
{
    if (!window)
        return -1;
    const auto found = std::find(m_slots.begin(), m_slots.end(), window);
    return found == m_slots.end() ? -1 : int(found - m_slots.begin());
}

int DownloadWindowTable::count() const
{
    return int(std::count_if(m_slots.begin(), m_slots.end(), [](const frmDownload *w) { return w != nullptr; }));
}

QList<frmDownload *> DownloadWindowTable::windows() const
{
    QList<frmDownload *> live;
    for (frmDownload *window : m_slots) {
        if (window)
            live.append(window);
    }
    return live;
}

void placeOver(QWidget *window, const QWidget *anchor)
{
    if (!window)
        return;
    const bool useAnchor = anchor && anchor->isVisible() && !anchor->isMinimized();
    QScreen *screen = useAnchor ? anchor->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->ensurePolished();
    if (QLayout *layout = window->layout())
        layout->activate();
    // The frame is not known before the first show; leave room for a
    // title bar and borders of usual size.
    const QRect frame = window->frameGeometry();
    const QSize decoration = window->isVisible() ? frame.size() - window->size() : QSize(8, 32);
    QSize size = window->size().expandedTo(window->minimumSizeHint());
    size = size.boundedTo(area.size() - decoration);
    window->resize(size);
    const QSize outer = size + decoration;
    const QPoint centre = useAnchor ? anchor->frameGeometry().center() : area.center();
    QRect target(QPoint(0, 0), outer);
    target.moveCenter(centre);
    // Fully on the screen: pushed in from whichever edge it crossed.
    target.moveLeft(std::clamp(target.left(), area.left(), std::max(area.left(), area.right() - outer.width() + 1)));
    target.moveTop(std::clamp(target.top(), area.top(), std::max(area.top(), area.bottom() - outer.height() + 1)));
    window->move(target.topLeft());
}
