#include "linktexts.h"

QString openFailureText(const QString& port, SerialPortError error)
{
    QString reason;
    switch (error) {
    case SerialPortError::NotFound:
        reason = QStringLiteral("порт не найден. Проверьте, подключён ли модем.");
        break;
    case SerialPortError::InUse:
        reason = QStringLiteral("порт занят другой программой. Закройте её и повторите попытку.");
        break;
    case SerialPortError::AccessDenied:
        reason = QStringLiteral("нет прав доступа к порту.");
#ifdef Q_OS_LINUX
        reason += QStringLiteral("\nДобавьте пользователя в группу dialout "
                                 "(sudo usermod -a -G dialout $USER) и войдите в систему заново.");
#endif
        break;
    case SerialPortError::BadSettings:
        reason = QStringLiteral("это не последовательный порт, или он не принимает настройки линии.");
        break;
    default:
        reason = QStringLiteral("ошибка ввода-вывода.");
        break;
    }
    return QStringLiteral("Не удалось открыть порт %1: ").arg(port) + reason;
}

static QString hartIpFailureText(HartIpSession::Failure failure)
{
    using Failure = HartIpSession::Failure;
    switch (failure) {
    case Failure::NoServer: return QStringLiteral("Сервер HART-IP не отвечает.\n");
    case Failure::Refused: return QStringLiteral("Сервер HART-IP отказал в сеансе: он занят.\n");
    case Failure::Malformed: return QStringLiteral("Поток TCP от сервера HART-IP нарушен.\n");
    case Failure::Closed: return QStringLiteral("Сервер HART-IP закрыл сеанс.\n");
    case Failure::Silent: return QStringLiteral("Сервер HART-IP не ответил на проверку связи.\n");
    case Failure::None: break;
    }
    return QString();
}

QString lostLinkText(const QString& link, HartIpSession::Failure failure)
{
    return QStringLiteral("Связь с портом %1 потеряна: модем отключён или порт неисправен.\n").arg(link)
        + hartIpFailureText(failure);
}
