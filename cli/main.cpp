// ipp93kt: the configurator's work on the command line, for scripts and for a plant's detectors
// all at once. No window, no display: QtCore only.

#include "tool.h"

#include "russianlocale.h"
#include "versioninfo.h"

#include <QCoreApplication>
#include <QRegularExpression>

bool isDeviceCommand(const QString& command);

namespace {

const char* const description =
    "Настройка извещателей ИПП-93кт по HART из командной строки.\n"
    "\n"
    "Команды:\n"
    "  scan                   извещатели, отвечающие на адресах 0-15 (--addresses A-B)\n"
    "  identify               опознание извещателя\n"
    "  read                   опознание, состояние и параметры; --profile ФАЙЛ сохраняет параметры\n"
    "  write ПРОФИЛЬ          показывает отличия от профиля; записывает с --yes\n"
    "  log ФАЙЛ.db            загрузка журнала событий (дозагрузка в существующий файл)\n"
    "  erase-log              очистка журнала событий в извещателе (--yes)\n"
    "  firmware ФАЙЛ          обновление ПО (--yes)\n"
    "  set-clock              установка текущего времени\n"
    "  restart, reset-config-flag, factory-reset, clear-status, calibrate, check-optics,\n"
    "  unlock, lock-temporary, lock-permanent, lock-all,\n"
    "  loop-normal, loop-multidrop, loop-fixed-4, loop-fixed-20\n"
    "                         сервисные операции (--yes)\n"
    "  fleet --out ФАЙЛ.db    обход всех линий: опознание, состояние, параметры и журнал\n"
    "                         каждого извещателя в одном файле; --resume продолжает обход\n"
    "  fleet diff ФАЙЛ.db ПРОФИЛЬ\n"
    "                         отличия параметров каждого извещателя от профиля\n"
    "  fleet log ФАЙЛ.db [ТИП-]ИДЕНТИФИКАТОР ЖУРНАЛ.db\n"
    "                         журнал одного извещателя в файл журнала программы\n"
    "\n"
    "Коды завершения: 0 выполнено, 1 ошибка устройства (код ответа и текст),\n"
    "2 неверные параметры или файл, 3 нет связи с портом или извещателем.";

bool parseRange(const QString& text, int* first, int* last)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d{1,2})-(\\d{1,2})$")).match(text);
    if (!m.hasMatch())
        return false;
    *first = m.captured(1).toInt();
    *last = m.captured(2).toInt();
    return *first <= *last && *last <= 63;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    installRussian(application);
    const QString programPath = QCoreApplication::applicationFilePath();
    QCoreApplication::setApplicationName(QStringLiteral("ipp93kt"));
    QCoreApplication::setApplicationVersion(versionString(programPath, "ProductVersion"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Последовательный порт модема HART"),
                                  QStringLiteral("PATH"));
    const QCommandLineOption hartIp(QStringLiteral("hartip"), QStringLiteral("Сервер HART-IP"),
                                    QStringLiteral("HOST[:PORT][/tcp]"));
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Адрес опроса извещателя (0 по умолчанию)"),
                                     QStringLiteral("N"));
    const QCommandLineOption tag(QStringLiteral("tag"), QStringLiteral("Извещатель с этим тегом"), QStringLiteral("TAG"));
    const QCommandLineOption addresses(QStringLiteral("addresses"), QStringLiteral("Адреса обхода (0-15 по умолчанию)"),
                                       QStringLiteral("A-B"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Результат в JSON"));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Подтверждение команды, меняющей извещатель"));
    const QCommandLineOption profile(QStringLiteral("profile"), QStringLiteral("Сохранить параметры в профиль"),
                                     QStringLiteral("FILE"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Файл обхода"), QStringLiteral("FILE"));
    const QCommandLineOption resume(QStringLiteral("resume"), QStringLiteral("Продолжить прерванный обход"));
    for (const QCommandLineOption* o : { &port, &hartIp, &address, &tag, &addresses, &json, &yes, &profile, &out, &resume })
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("Команда"));
    if (!parser.parse(QCoreApplication::arguments())) {
        Output::error(parser.errorText());
        return Exit::usage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        Output(false).line(parser.helpText());
        return Exit::done;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        Output(false).line(QStringLiteral("ipp93kt ") + QCoreApplication::applicationVersion());
        return Exit::done;
    }

    Options options;
    options.arguments = parser.positionalArguments();
    options.json = parser.isSet(json);
    options.yes = parser.isSet(yes);
    options.resume = parser.isSet(resume);
    options.profile = parser.value(profile);
    options.out = parser.value(out);
    options.tag = parser.value(tag);
    for (const QString& p : parser.values(port))
        options.links.append({ p, false, {} });
    for (const QString& h : parser.values(hartIp)) {
        LinkSpec link;
        link.hartIp = true;
        if (!HartIpAddress::parse(h, link.server)) {
            Output::error(QStringLiteral("Неверный адрес HART-IP: ") + h);
            return Exit::usage;
        }
        options.links.append(link);
    }
    if (parser.isSet(address)) {
        bool ok = false;
        options.address = parser.value(address).toInt(&ok);
        if (!ok || options.address < 0 || options.address > 63) {
            Output::error(QStringLiteral("Неверный адрес: ") + parser.value(address));
            return Exit::usage;
        }
        options.addressGiven = true;
    }
    if (parser.isSet(addresses) && !parseRange(parser.value(addresses), &options.firstAddress, &options.lastAddress)) {
        Output::error(QStringLiteral("Неверный диапазон адресов: ") + parser.value(addresses));
        return Exit::usage;
    }
    if (options.addressGiven && !options.tag.isEmpty()) {
        Output::error(QStringLiteral("Укажите либо --address, либо --tag"));
        return Exit::usage;
    }

    // The audit trail is the window's: the same file in the same data folder.
    QCoreApplication::setApplicationName(versionString(programPath, "ProductName"));

    const QString command = options.arguments.value(0);
    Output output(options.json);
    if (command == QLatin1String("fleet")) {
        if (options.arguments.value(1) == QLatin1String("diff"))
            return runFleetDiff(options, output);
        if (options.arguments.value(1) == QLatin1String("log"))
            return runFleetLog(options, output);
        return runFleet(options, output);
    }
    if (!isDeviceCommand(command)) {
        Output::error(command.isEmpty() ? QStringLiteral("Не указана команда; список команд: ipp93kt --help")
                                        : QStringLiteral("Неизвестная команда: ") + command);
        return Exit::usage;
    }
    if (options.links.size() != 1) {
        Output::error(QStringLiteral("Укажите одну линию: --port PATH или --hartip HOST[:PORT][/tcp]"));
        return Exit::usage;
    }
    return runDeviceCommand(command, options, output);
}
