// The editable configuration of the detector: the fields of the three settings groups, how
// edits are tracked, how a read fills the fields and how a write chooses what to send.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicetext.h"
#include "detectormodel.h"
#include "profilefields.h"
#include "settingbits.h"
#include "textfields.h"

#include "hart/detectorconfig.h"
#include "hart/identityrecord.h"

#include <QMessageBox>
#include <QRegExpValidator>
#include <QSignalBlocker>

#include <algorithm>
#include <cstring>

namespace {

// Device texts are NUL-terminated within their field, or fill it completely.
QString fieldText(const char* field, size_t size)
{
    return fromDeviceText(field, int(strnlen(field, size)));
}

}

void MainWindow::setupConfiguration()
{
    const QString packedSet = QStringLiteral("[a-z\\x20-\\x5F]{0,%1}");
    ui->tag->setValidator(new QRegExpValidator(QRegExp(packedSet.arg(8)), ui->tag));
    ui->descriptor->setValidator(new QRegExpValidator(QRegExp(packedSet.arg(16)), ui->descriptor));
    ui->message->setValidator(new QRegExpValidator(QRegExp(packedSet.arg(32)), ui->message));
    ui->longTag->setValidator(
        new QRegExpValidator(QRegExp(QStringLiteral("[\\x20-\\xFF]{0,32}")), ui->longTag));

    connect(ui->tag, &QLineEdit::textChanged, this, &MainWindow::on_tag_textChanged);
    connect(ui->longTag, &QLineEdit::textChanged, this, &MainWindow::on_longTag_textChanged);
    connect(ui->descriptor, &QLineEdit::textChanged, this, &MainWindow::on_descriptor_textChanged);
    connect(ui->message, &QLineEdit::textChanged, this, &MainWindow::on_message_textChanged);
    for (QAbstractButton* box : { static_cast<QAbstractButton*>(ui->autoHeat), static_cast<QAbstractButton*>(ui->alarmNO),
                                  static_cast<QAbstractButton*>(ui->alarmNC), static_cast<QAbstractButton*>(ui->faultNO),
                                  static_cast<QAbstractButton*>(ui->faultNC) })
        connect(box, &QAbstractButton::toggled, this, &MainWindow::on_deviceConfiguration_toggled);
    for (QDoubleSpinBox* box : { ui->currentError, ui->currentOptic, ui->currentIdle, ui->currentTest, ui->currentAlarm })
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &MainWindow::on_statusCurrents_valueChanged);

    ui->analysisTimeSlider->setCaptionsAbove({ QStringLiteral("Быстродействие"), QStringLiteral("Достоверность") });
    ui->noiseSlider->setCaptionsBelow({ QStringLiteral("Низкий"), QStringLiteral("Средний"), QStringLiteral("Высокий") });

    applyModelLayout();
    // Nothing has been edited yet, whatever the layout had to adjust.
    modifiedGroups = 0;
    editedSinceWrite = 0;
}

void MainWindow::markModified(uint8_t groups)
{
    modifiedGroups |= groups;
    editedSinceWrite |= groups;
}

void MainWindow::confirmGroups(uint8_t groups)
{
    readGroups |= groups;
    rememberDeviceValues(groups);
    modifiedGroups &= uint8_t(~groups);
    editedSinceWrite &= uint8_t(~groups);
    if (profileFields)
        profileFields->clearHighlight(groups);
}

void MainWindow::on_tag_textChanged(const QString& text)
{
    keepUpperCase(ui->tag, text);
    markModified(ConfigGroup::tagDescriptorDate);
}

void MainWindow::on_descriptor_textChanged(const QString& text)
{
    keepUpperCase(ui->descriptor, text);
    markModified(ConfigGroup::tagDescriptorDate);
}

void MainWindow::on_message_textChanged(const QString& text)
{
    keepUpperCase(ui->message, text);
    markModified(ConfigGroup::message);
}

void MainWindow::on_longTag_textChanged(const QString&)
{
    markModified(ConfigGroup::longTag);
}

void MainWindow::on_date_userDateChanged(const QDate&)
{
    markModified(ConfigGroup::tagDescriptorDate);
}

void MainWindow::on_address_valueChanged(int)
{
    markModified(ConfigGroup::address);
}

void MainWindow::on_statusCurrents_valueChanged(double)
{
    markModified(ConfigGroup::currents);
}

void MainWindow::on_fixTime_currentIndexChanged(int)
{
    markModified(ConfigGroup::detector);
}

void MainWindow::on_deviceConfiguration_toggled(bool)
{
    markModified(ConfigGroup::detector);
}

void MainWindow::on_connectWrite_triggered()
{
    if (!checkDeviceReady())
        return;
    if ((readGroups & ConfigGroup::all) != ConfigGroup::all) {
        const auto answer = QMessageBox::question(
            this, QString(),
            QStringLiteral("Конфигурация ещё не прочитана из устройства.\n"
                           "Записать в устройство значения, показанные в окне?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    if (!(modifiedGroups & ConfigGroup::all)) {
        const auto answer = QMessageBox::question(
            this, QString(), QStringLiteral("Нет изменений параметров.\nВыполнить запись всех параметров?"),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        modifiedGroups = ConfigGroup::all;
    }
    // The device may have gone while a question was open.
    if (!checkDeviceReady())
        return;
    const uint8_t groups = modifiedGroups;
    editedSinceWrite &= uint8_t(~groups);
    writeGroupsPending = groups & ConfigGroup::all;
    prepareAuditChanges(groups);

    if (groups & ConfigGroup::message)
        identity.requestWriteMessage(toDeviceText(ui->message->text()).constData());
    if (groups & ConfigGroup::tagDescriptorDate) {
        const QDate date = ui->date->date();
        const uint32_t year = uint32_t(std::clamp(date.year() - 1900, 0, 255));
        identity.requestWriteTagDescriptorDate(toDeviceText(ui->tag->text()).constData(),
                                               toDeviceText(ui->descriptor->text()).constData(),
                                               uint32_t(date.day()) | uint32_t(date.month()) << 8 | year << 16);
    }
    if (groups & ConfigGroup::longTag)
        identity.requestWriteLongTag(ui->longTag->text().toLatin1().constData());
    if (groups & ConfigGroup::address)
        requestWritePollingAddress(uint8_t(ui->address->value()), loopCurrentMode);
    if (groups & ConfigGroup::detector)
        writeDetectorSettings();
    if (groups & ConfigGroup::currents) {
        auto microamperes = [](const QDoubleSpinBox* box) { return uint16_t(uint32_t(box->value() * 1000.0 + 0.5)); };
        detector.requestWriteCurrents(microamperes(ui->currentError), microamperes(ui->currentOptic),
                                      microamperes(ui->currentIdle), microamperes(ui->currentTest),
                                      microamperes(ui->currentAlarm));
    }
}

uint8_t MainWindow::configurationByte1() const
{
    return SettingBits::byte1(expandedDeviceType, ui->fixTime->currentIndex() == 1, ui->analysisType->currentIndex(),
                              ui->autoHeat->isChecked());
}

void MainWindow::writeDetectorSettings()
{
    const uint8_t byte0 = SettingBits::byte0(ui->alarmNO->isChecked(), ui->faultNC->isChecked());
    const uint8_t byte2 = uint8_t(int(ui->sensitivity->value() + 0.5));
    const uint8_t byte3 = uint8_t(ui->analysisTime->value());
    detector.requestWriteConfiguration(byte0, configurationByte1(), byte2, byte3);
}

// Read handlers fill the fields first and confirm the group afterwards, so the change signals
// of their own filling leave nothing marked.

void MainWindow::handleReadMessage(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* w = windowOf(master);
    w->ui->message->setText(fieldText(w->identity.message, sizeof w->identity.message - 1));
    w->confirmGroups(ConfigGroup::message);
}

void MainWindow::handleReadTagDescriptorDate(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* w = windowOf(master);
    const Hart::IdentityRecord& r = w->identity;
    w->ui->tag->setText(fieldText(r.tag, sizeof r.tag - 1));
    w->ui->descriptor->setText(fieldText(r.descriptor, sizeof r.descriptor - 1));
    // An impossible date (day 0, month 13) leaves the field as it was.
    const QDate date(1900 + r.date[2], r.date[1], r.date[0]);
    if (date.isValid())
        w->ui->date->setDate(date);
    w->confirmGroups(ConfigGroup::tagDescriptorDate);
}

void MainWindow::handleReadLongTag(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* w = windowOf(master);
    // The long tag is Latin-1 on the wire, unlike the other texts.
    const char* longTag = w->identity.longTag;
    w->ui->longTag->setText(QString::fromLatin1(longTag, int(strnlen(longTag, sizeof w->identity.longTag - 1))));
    w->confirmGroups(ConfigGroup::longTag);
}

void MainWindow::handleReadCurrents(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* w = windowOf(master);
    const uint16_t* c = w->detector.currentSettings;
    QDoubleSpinBox* const boxes[] = { w->ui->currentError, w->ui->currentOptic, w->ui->currentIdle,
                                      w->ui->currentTest, w->ui->currentAlarm };
    for (int i = 0; i < 5; ++i)
        boxes[i]->setValue(c[i] / 1000.0);
    w->confirmGroups(ConfigGroup::currents);
}

void MainWindow::handleReadDetectorSettings(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* w = windowOf(master);
    Ui::MainWindow* ui = w->ui;
    const Hart::DetectorConfig& d = w->detector;
    const uint8_t byte0 = d.configurationByte(0);
    const uint8_t byte1 = d.configurationByte(1);

    // The item list of this model must be in place before its index is chosen; the layout is
    // then rebuilt for the analysis type read, before the values that depend on its ranges.
    if (w->expandedDeviceType != w->layoutModel)
        w->applyModelLayout();
    {
        const QSignalBlocker blocker(ui->analysisType);
        // A model without analysis types leaves its hidden list as it was.
        const int type = SettingBits::analysisType(w->expandedDeviceType, byte1);
        if (type >= 0)
            ui->analysisType->setCurrentIndex(type);
    }
    w->applyModelLayout();

    ui->sensitivity->setValue(d.configurationByte(2));
    ui->fixTime->setCurrentIndex(byte1 & 0x01);
    ui->analysisTime->setValue(SettingBits::analysisTime(byte1, d.configurationByte(3)));
    ui->autoHeat->setChecked(byte1 & 0x04);
    ((byte0 & 0x02) ? ui->alarmNO : ui->alarmNC)->setChecked(true);
    ((byte0 & 0x01) ? ui->faultNC : ui->faultNO)->setChecked(true);
    w->updateNoiseIndicator();
    w->confirmGroups(ConfigGroup::detector);
}

// A write is confirmed only for what was sent: a group edited again meanwhile stays marked.
void MainWindow::writeConfirmed(uint8_t group)
{
    const uint8_t pending = writeGroupsPending;
    writeGroupsPending &= uint8_t(~group);
    if (pending && !writeGroupsPending)
        noteDone(QStringLiteral("Конфигурация записана в устройство"));
    // The device now holds what the window sent.
    readGroups |= group;
    auditWriteConfirmed(group);
    modifiedGroups &= uint8_t(~(group & ~editedSinceWrite));
    if (profileFields)
        profileFields->clearHighlight(uint8_t(group & ~editedSinceWrite));
}
