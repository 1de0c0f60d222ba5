#include "platform/ui/skinform.h"

#include "platform/ui/skin.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

ControlKind controlKindOf(const QWidget *w)
{
    if (qobject_cast<const QPushButton *>(w))
        return ControlKind::CommandButton;
    if (qobject_cast<const QCheckBox *>(w))
        return ControlKind::CheckBox;
    if (qobject_cast<const QRadioButton *>(w))
        return ControlKind::OptionButton;
    if (qobject_cast<const QLabel *>(w))
        return ControlKind::Label;
    if (qobject_cast<const QStatusBar *>(w))
        return ControlKind::StatusBar;
    if (qobject_cast<const QTabBar *>(w) || qobject_cast<const QTabWidget *>(w))
        return ControlKind::TabStrip;
    if (qobject_cast<const QGroupBox *>(w))
        return ControlKind::Frame;
    // A plain QFrame; its subclasses (labels, lists, scroll areas) are other kinds.
    if (w->metaObject() == &QFrame::staticMetaObject)
        return ControlKind::Frame;
    return ControlKind::Other;
}

namespace {
bool hasBorder(const QWidget *w)
{
    if (const auto *box = qobject_cast<const QGroupBox *>(w))
        return !box->isFlat();
    if (const auto *frame = qobject_cast<const QFrame *>(w))
        return frame->frameShape() != QFrame::NoFrame;
    return true;
}
} // namespace

void SkinForm(QWidget *form, const QString &windowName, SkinFlavour flavour)
{
    if (!form)
        return;
    Skin::registerWindow(form, windowName);
    const auto children = form->findChildren<QWidget *>();
    for (QWidget *child : children) {
        // A tab widget's own bar is registered through the tab widget.
        if (qobject_cast<QTabBar *>(child) && qobject_cast<QTabWidget *>(child->parentWidget()))
            continue;
        const QString name = skinElementName(controlKindOf(child), flavour, hasBorder(child));
        if (!name.isEmpty())
            Skin::registerControl(child, name);
    }
    Skin::repolish(form);
}
