#pragma once

#include "download/ui/frmdownload.h"

#include <QList>
#include <QObject>

#include <array>

class DesktopShell;
class Prompts;
class QWidget;
class frmDownload;

// Puts a window that is about to be shown centred over anchor (the main
// window; the screen when anchor is null or hidden), moved and if need be
// shrunk so that all of it is on anchor's screen.
void placeOver(QWidget *window, const QWidget *anchor);

// The program's download windows, one per slot (0 to 100). A window knows
// its slot through its intAssignedIndex. The table owns the
// windows in it: a window that closes (and so is deleted) frees its slot,
// and the windows still open when the table goes are deleted with it.
class DownloadWindowTable : public QObject {
    Q_OBJECT

public:
    static constexpr int SlotCount = 101;

    explicit DownloadWindowTable(QObject *parent = nullptr);
    ~DownloadWindowTable() override;

    static bool isValidSlot(int slot) { return slot >= 0 && slot < SlotCount; }

    // The window in a slot; nullptr when the slot is empty or out of range.
    frmDownload *at(int slot) const;
    // Creates a window over a download in an empty slot and sets its
    // intAssignedIndex; nullptr when the slot is out of range or taken.
    frmDownload *create(int slot, const frmDownload::Services &services, DownloadId id);
    // The open window that shows a download; nullptr when none.
    frmDownload *windowOf(DownloadId id) const;
    // Removes the window from its slot and hands it to the caller.
    frmDownload *take(int slot);
    // Frees a slot, deleting the window in it (later, so a window may
    // release itself from one of its own handlers).
    void release(int slot);

    // The lowest empty slot; -1 when all are taken.
    int firstFreeSlot() const;
    // The slot of a window; -1 when it is not in the table.
    int slotOf(const frmDownload *window) const;
    int count() const;
    bool isEmpty() const { return count() == 0; }
    // The live windows in slot order.
    QList<frmDownload *> windows() const;

Q_SIGNALS:
    // A window was created in a slot.
    void windowCreated(int slot, frmDownload *window);
    // A slot became empty (its window closed, was taken or released).
    void slotFreed(int slot);

private:
    void forget(int slot);

    std::array<frmDownload *, SlotCount> m_slots{};
    // The same windows as QObjects, taken while they were whole: a window
    // reports its end from its base class's destructor, when it may no
    // longer be used as a frmDownload.
    std::array<const QObject *, SlotCount> m_objects{};
};
