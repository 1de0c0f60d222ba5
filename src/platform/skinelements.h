#pragma once

#include <QString>

// The skin element names controls are registered under.
enum class ControlKind { CommandButton, Label, Frame, CheckBox, OptionButton, StatusBar, TabStrip, Other };

// Which rules apply: Tessel's windows; Corvane's main window (no status bar,
// every frame a "Frame"); Corvane's dialogs (a borderless frame is "NoFrame").
enum class SkinFlavour { Tessel, CorvaneMain, CorvaneDialog };

inline const QString MainWindowSkinName = QStringLiteral("Main");
inline const QString SecondWindowSkinName = QStringLiteral("secondForm");

// The element name of a control, empty when that kind is not registered.
QString skinElementName(ControlKind kind, SkinFlavour flavour, bool frameHasBorder = true);
