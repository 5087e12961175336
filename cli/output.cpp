#include "tool.h"

#include "detectormodel.h"
#include "programfile.h"
#include "versioninfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>

#include <cstdio>
#include <unistd.h>

namespace {

void write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString duration(std::uint64_t seconds)
{
    return seconds >= 60 ? QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'))
                         : QStringLiteral("%1 с").arg(seconds);
}

}

Output::Output(bool json)
    : m_json(json), m_terminal(isatty(STDERR_FILENO) == 1)
{
}

void Output::line(const QString& text)
{
    endProgress();
    write(stdout, text + '\n');
}

void Output::table(const QList<QPair<QString, QString>>& rows)
{
    int width = 0;
    for (const auto& row : rows)
        width = std::max(width, row.first.size());
    QString text;
    for (const auto& row : rows)
        text += row.first.leftJustified(width + 2) + row.second + '\n';
    endProgress();
    write(stdout, text);
}

void Output::object(const QJsonObject& object)
{
    endProgress();
    write(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

void Output::progress(std::uint64_t done, std::uint64_t total, const QString& unit)
{
    if (!m_terminal || total == 0)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_started < 0 || done < m_startedAt) {
        m_started = now;
        m_startedAt = done;
    }
    constexpr int width = 30;
    const std::uint64_t part = std::min(done, total);
    const int filled = int(part * width / total);
    QString text = QStringLiteral("\r[") + QString(filled, '#') + QString(width - filled, ' ')
        + QStringLiteral("] %1 из %2 %3").arg(part).arg(total).arg(unit);
    const std::uint64_t sent = part - std::min(part, m_startedAt);
    if (sent > 0 && now > m_started)
        text += QStringLiteral(", осталось ")
            + duration(((total - part) * std::uint64_t(now - m_started) / sent + 999) / 1000);
    write(stderr, text + QStringLiteral("\x1b[K"));
    m_shown = true;
}

void Output::endProgress()
{
    if (m_shown)
        write(stderr, QStringLiteral("\n"));
    m_shown = false;
    m_started = -1;
}

void Output::error(const QString& text)
{
    write(stderr, text + '\n');
}

int reportResult(const DeviceSession::Result& result)
{
    using Outcome = DeviceSession::Outcome;
    switch (result.outcome) {
    case Outcome::Done: return Exit::done;
    case Outcome::DeviceError:
        Output::error(result.responseCode >= 0 ? QStringLiteral("Ошибка %1: %2").arg(result.responseCode).arg(result.text)
                                               : QStringLiteral("Ошибка: ") + result.text);
        return Exit::device;
    case Outcome::Refused: Output::error(result.text); return Exit::usage;
    case Outcome::NoAnswer:
    case Outcome::LinkLost: Output::error(result.text); return Exit::link;
    }
    return Exit::device;
}

int reachDevice(DeviceSession& session, const LinkSpec& link, const Options& options)
{
    QString error;
    if (!session.open(link, &error)) {
        Output::error(error.trimmed());
        return Exit::link;
    }
    const DeviceSession::Result found = options.tag.isEmpty() ? session.identify(std::uint8_t(options.address))
                                                              : session.findByTag(options.tag);
    if (!found.ok())
        return reportResult(found);
    if (!DetectorModel::isServed(session.expandedDeviceType)) {
        Output::error(QStringLiteral("Неизвестное устройство"));
        return Exit::device;
    }
    return Exit::done;
}

QString programName()
{
    return versionString(QCoreApplication::applicationFilePath(), "InternalName");
}

int programVersion()
{
    return leadingInteger(versionString(QCoreApplication::applicationFilePath(), "ProductVersion"));
}

int loadProgramFile(ConfigDocument& document)
{
    document.load();
    switch (ProgramFile::check(document, programName().toUtf8(), programVersion())) {
    case ProgramFile::Check::WrongFormat: Output::error(QStringLiteral("Неверный формат файла")); return Exit::usage;
    case ProgramFile::Check::NewerVersion:
        Output::error(QStringLiteral("Файл конфигурации более новой версии, чем версия программы"));
        return Exit::usage;
    case ProgramFile::Check::Accepted: break;
    }
    return Exit::done;
}

QString deviceTypeText(std::uint16_t type)
{
    return QStringLiteral("%1").arg(type, 4, 16, QLatin1Char('0')).toUpper();
}
