#include "commissioningreport.h"

#include "auditwindow.h"

#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

const QString signOffTitle = QStringLiteral("Проверку выполнил");

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString table(const QList<QPair<QString, QString>>& rows)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\">");
    for (const auto& row : rows)
        html += QStringLiteral("<tr><td width=\"45%\">%1</td><td>%2</td></tr>").arg(escaped(row.first), escaped(row.second));
    return html + QStringLiteral("</table>");
}

}

QString reportHtml(const ReportContent& c)
{
    QString html = QStringLiteral("<html><body style=\"color:black; background:white\">"
                                  "<h2 align=\"center\">Отчёт о проверке извещателя</h2>");
    html += table({ { QStringLiteral("Дата и время отчёта"), c.made.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) },
                    { QStringLiteral("Пользователь"), c.user },
                    { QStringLiteral("Связь"), c.link } });
    for (const ReportSection& section : c.sections)
        html += QStringLiteral("<h3>%1</h3>").arg(escaped(section.title)) + table(section.rows);
    html += QStringLiteral("<h3>Проверка оптики</h3><p>%1</p>")
                .arg(c.opticsCheck.isEmpty() ? QStringLiteral("В этом соединении не выполнялась.") : escaped(c.opticsCheck));

    if (c.events.isEmpty()) {
        html += QStringLiteral("<h3>Журнал событий</h3><p>Файл журнала событий этого устройства не открыт.</p>");
    } else {
        html += QStringLiteral("<h3>Журнал событий: последние записи (%1)</h3>").arg(c.events.size());
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><tr>");
        for (const QString& title : c.eventTitles)
            html += QStringLiteral("<th>%1</th>").arg(escaped(title));
        html += QStringLiteral("</tr>");
        for (const QStringList& row : c.events) {
            html += QStringLiteral("<tr>");
            for (const QString& field : row)
                html += QStringLiteral("<td>%1</td>").arg(escaped(field));
            html += QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
    }

    html += QStringLiteral("<h3>Журнал изменений за 30 дней</h3>");
    if (c.records.isEmpty()) {
        html += QStringLiteral("<p>Записей нет.</p>");
    } else {
        // Two columns fit A4 in portrait: when, by whom and with what result; what was done.
        const QStringList titles = AuditWindow::columnTitles();
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">"
                               "<tr><th width=\"35%\">%1, %2, %3</th><th>%4, %5</th></tr>")
                    .arg(escaped(titles[0]), escaped(titles[1].toLower()), escaped(titles[8].toLower()),
                         escaped(titles[6]), escaped(titles[7].toLower()));
        for (const Audit::Record& r : c.records) {
            const QStringList f = AuditWindow::fields(r);
            QString result = escaped(f[8]);
            if (!f[9].isEmpty())
                result += QStringLiteral(" (") + escaped(f[9]) + ')';
            if (!f[10].isEmpty())
                result += QStringLiteral("<br>") + escaped(f[10]);
            html += QStringLiteral("<tr><td>%1<br>%2<br>%3</td><td>%4<br>%5</td></tr>")
                        .arg(escaped(f[0]), escaped(f[1]), result, escaped(f[6]), escaped(f[7]));
        }
        html += QStringLiteral("</table>");
    }

    html += QStringLiteral("<h3>%1</h3>").arg(signOffTitle) + QStringLiteral(
                           "<table cellspacing=\"0\" cellpadding=\"10\" width=\"100%\">"
                           "<tr><td width=\"25%\">Ф. И. О.</td><td>______________________________________</td></tr>"
                           "<tr><td>Дата</td><td>______________________________________</td></tr>"
                           "<tr><td>Подпись</td><td>______________________________________</td></tr></table>");
    return html + QStringLiteral("</body></html>");
}

bool writeReportPdf(const ReportContent& content, const QString& path, QString* error)
{
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly)) {
        *error = probe.errorString();
        return false;
    }
    probe.close();
    QPdfWriter writer(path);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                     QPageLayout::Millimeter));
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Отчёт о проверке извещателя"));
    QTextDocument document;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    document.setDefaultFont(font);
    document.setHtml(reportHtml(content));
    // Laid out on the writer's pages, the sign-off starts a page of its own rather than split.
    document.documentLayout()->setPaintDevice(&writer);
    const QSizeF page = writer.pageLayout().paintRectPixels(writer.resolution()).size();
    document.setPageSize(page);
    const QTextBlock signOff = document.find(signOffTitle).block();
    if (signOff.isValid()) {
        const qreal top = document.documentLayout()->blockBoundingRect(signOff).top();
        const qreal bottom = document.documentLayout()->documentSize().height() - 1;
        if (int(top / page.height()) != int(bottom / page.height())) {
            QTextCursor cursor(signOff);
            QTextBlockFormat format = cursor.blockFormat();
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            cursor.setBlockFormat(format);
        }
    }
    document.print(&writer);
    return true;
}
