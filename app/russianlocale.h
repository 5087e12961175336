#pragma once

class QCoreApplication;

// The program speaks Russian whatever the machine is set to: Qt's own buttons and dialogs are
// translated, and dates, calendars and numbers in the editable fields read the Russian way.
// Texts the program formats itself (the clock, the traffic monitor, device values) are fixed
// forms and do not follow the locale.
void installRussian(QCoreApplication& application);
