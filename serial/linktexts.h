#pragma once
// Why a link could not be opened or was lost, in the words the window's boxes and the
// command-line tool both use.

#include "hartipsession.h"
#include "serialport.h"

#include <QString>

// "Не удалось открыть порт PORT: <reason>".
QString openFailureText(const QString& port, SerialPortError error);
// "Связь с портом LINK потеряна: …", one line with its newline.
QString lostLinkText(const QString& link);
// The HART-IP server's own reason for a session it ended or refused, one line with its newline;
// empty when it gave none.
QString hartIpFailureText(HartIpSession::Failure failure);
