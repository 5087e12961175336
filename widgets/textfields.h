#pragma once

#include <QString>

class QLineEdit;

// Keeps a line edit in upper case while the user types, without moving the cursor; call it
// from the edit's textChanged with the new text.
void keepUpperCase(QLineEdit* edit, const QString& text);
