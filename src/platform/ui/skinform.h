#pragma once

#include "platform/skinelements.h"

class QWidget;

// Registers a window with the skin under windowName and each of its
// controls under the element name of its kind, then re-applies the style.
void SkinForm(QWidget *form, const QString &windowName, SkinFlavour flavour = SkinFlavour::Tessel);

// The kind of a widget as the skin sees it.
ControlKind controlKindOf(const QWidget *widget);
