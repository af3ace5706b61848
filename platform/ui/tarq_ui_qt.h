// Qt side of the panel toolkit, for hosts that embed panels and for tests that drive the real
// widgets. Front-panel code does not need it.
#pragma once

class QWidget;
class QMenuBar;

QWidget *GetPanelWidget(int panel);             // nullptr for an unknown handle
QWidget *GetCtrlWidget(int panel, int control); // nullptr for an unknown control
QMenuBar *GetMenuBarWidget(int menuBar);
