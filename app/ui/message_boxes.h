// The booth's message boxes: every one carries the application title as its
// caption, and pending window messages run just before and after it, so a
// box never leaves half-painted controls behind.
#pragma once

#include <QString>

class QWidget;

// An OK box with an information icon.
void ShowMessage(QWidget* parent, const QString& text);

// An OK box with no parent that stays above other windows, the booth's
// own window (which stays on top too) included.
void ShowMessageOnTop(const QString& text);

// An OK box with a critical icon: how an error that reached a user action is
// shown.
void ShowError(QWidget* parent, const QString& text);

// A Yes/No box; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text);
