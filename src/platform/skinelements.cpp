#include "platform/skinelements.h"

QString skinElementName(ControlKind kind, SkinFlavour flavour, bool frameHasBorder)
{
    switch (kind) {
    case ControlKind::CommandButton: return QStringLiteral("Button");
    case ControlKind::Label: return QStringLiteral("Label");
    case ControlKind::Frame:
        if (flavour == SkinFlavour::CorvaneDialog && !frameHasBorder)
            return QStringLiteral("NoFrame");
        return QStringLiteral("Frame");
    case ControlKind::CheckBox: return QStringLiteral("checkBox");
    case ControlKind::OptionButton: return QStringLiteral("radioBox");
    case ControlKind::StatusBar:
        return flavour == SkinFlavour::CorvaneMain ? QString() : QStringLiteral("StatusBar");
    case ControlKind::TabStrip: return QStringLiteral("Tab");
    case ControlKind::Other: break;
    }
    return {};
}
