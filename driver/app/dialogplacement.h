#pragma once
// Where the main window's dialogs open: next to the window and wholly inside
// the available area of its screen (the screen without task bars and docks),
// wherever the window stands, even partly off the screen.

class QWidget;

// Moves the top-level `dialog` beside `window`: to its right if it fits
// there, else to its left, below or above it, else over it; clamped into the
// available area as far as the dialog's size allows.
void placeBeside(QWidget *dialog, const QWidget *window);

// Moves the top-level `dialog` into the available area of `window`'s screen
// if it sticks out of it (after it has grown); otherwise leaves it alone.
void keepOnScreen(QWidget *dialog, const QWidget *window);
