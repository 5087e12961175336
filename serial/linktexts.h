#pragma once
// Why a link could not be opened or was lost, in the words the window's boxes and the
// command-line tool both use.

#include "hartipsession.h"
#include "serialport.h"

#include <QString>

// "Не удалось открыть порт PORT: <reason>".
QString openFailureText(const QString& port, SerialPortError error);
// "Связь с портом LINK потеряна: …", each line ending in a newline; a HART-IP server's own
// reason for a session it ended or refused follows on a line of its own.
QString lostLinkText(const QString& link, HartIpSession::Failure failure = HartIpSession::Failure::None);
