#include "dialogabout.h"
#include "ui_dialogabout.h"

#include <QAction>
#include <QKeyEvent>
#include <QPointer>

#include <array>
#include <cstdint>

namespace {

constexpr std::array<std::int32_t, 7> maintenanceSequence = {
    Qt::Key_K, Qt::Key_L, Qt::Key_O, Qt::Key_V, Qt::Key_E, Qt::Key_N, Qt::Key_T,
};

// Shared by every opening of the dialog, so the sequence may be split across them.
std::size_t sequencePosition = 0;

QPointer<QAction>& maintenanceAction()
{
    static QPointer<QAction> action;
    return action;
}

constexpr char supportEmail[] = "support@norvel.ru";
constexpr char officePhone[] = "Тел.: +7 (812) 000-00-00";
constexpr char servicePhone[] = "Сервисная служба: +7 (812) 000-00-01";

} // namespace

void setMaintenanceAction(QAction* action)
{
    maintenanceAction() = action;
}

DialogAbout::DialogAbout(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogAbout)
{
    ui->setupUi(this);
}

DialogAbout::DialogAbout(const VersionStrings& version, QWidget* parent)
    : DialogAbout(parent)
{
    setVersionStrings(version);
}

DialogAbout::~DialogAbout()
{
    delete ui;
}

void DialogAbout::setVersionStrings(const VersionStrings& version)
{
    ui->label->setText(aboutText(version));
}

QString DialogAbout::aboutText(const VersionStrings& version)
{
    const QString small = QStringLiteral("</span></p><p><span style=\" font-size:10pt;\">");
    // The values go into rich text; a '<' or '&' in them must show as itself.
    return QStringLiteral("<html><head/><body><p><span style=\" font-size:16pt;\">")
        + version.productName.toHtmlEscaped()
        + QStringLiteral("</span></p><p><span style=\" font-family:'Times New Roman','serif'; "
                         "font-size:24pt; font-weight:600;\">")
        + version.internalName.toHtmlEscaped()
        + QStringLiteral("</span></p><p><span style=\" font-size:16pt;\">v.")
        + version.productVersion.toHtmlEscaped()
        + small + version.releaseYear.toHtmlEscaped()
        + small + version.companyName.toHtmlEscaped()
        + small + QStringLiteral("Email: ") + QString::fromUtf8(supportEmail)
        + small + QStringLiteral("Web: ") + version.companyDomain.toHtmlEscaped()
        + small + QString::fromUtf8(officePhone)
        + small + QString::fromUtf8(servicePhone)
        + QStringLiteral("</span></p></body></html>");
}

void DialogAbout::keyPressEvent(QKeyEvent* event)
{
    // A key that breaks the sequence is not taken as a new start, even if it is its first letter.
    if (event->key() == maintenanceSequence[sequencePosition]) {
        ++sequencePosition;
        if (sequencePosition == maintenanceSequence.size()) {
            sequencePosition = 0;
            accept();
            if (QAction* action = maintenanceAction())
                action->setVisible(true);
        }
    } else {
        sequencePosition = 0;
    }
    QDialog::keyPressEvent(event);
}
