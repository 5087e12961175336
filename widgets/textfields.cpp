#include "textfields.h"

#include <QLineEdit>

void keepUpperCase(QLineEdit* edit, const QString& text)
{
    const QString upper = text.toUpper();
    if (upper == text)
        return;
    const int cursor = edit->cursorPosition();
    edit->setText(upper);
    edit->setCursorPosition(cursor);
}
