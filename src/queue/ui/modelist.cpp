#include "queue/ui/modelist.h"

#include "download/ui/frmdownload.h"

ModeList::ModeList(QObject *parent) : QStringListModel(QStringList(SlotCount, QString()), parent) {}

QString ModeList::entry(int slot) const
{
    if (slot < 0 || slot >= rowCount())
        return {};
    return data(index(slot), Qt::DisplayRole).toString();
}

void ModeList::setEntry(int slot, const QString &text)
{
    if (slot < 0 || slot >= rowCount())
        return;
    setData(index(slot), text, Qt::DisplayRole);
}

void ModeList::watch(frmDownload &window)
{
    connect(&window, &frmDownload::modeEntryChanged, this, &ModeList::setEntry, Qt::UniqueConnection);
}
