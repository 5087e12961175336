// What the window shows about the live detector apart from its configuration: identity
// numbers, loop current, detector state and channel values, fault lines, the status icons,
// the clock, and the check marks of the lock and loop-current actions.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "hart/mastercommands.h"
#include "hart/messages.h"

#include "trendwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>
#include <QStringList>

#include <cmath>

namespace {

// The loop current of commands 2, 3 and 40 is always in milliamperes; its record has no unit code.
constexpr uint8_t milliampereUnit = 39;

QString faultLineHtml(const char* text)
{
    return QStringLiteral("<html><head/><body><p><span style=\" font-weight:600; color:#ff0000;\">")
        + QString::fromUtf8(text) + QStringLiteral("</span></p></body></html>");
}

// Label order on screen, and the bit of the first two additional status bytes each one follows.
const struct {
    const char* text;
    int bit;
} faultLineTable[] = {
    { "Неисправность тактового генератора частоты CPU", 0 },
    { "Ошибка загрузки параметров", 1 },
    { "Неисправность аналого-цифрового преобразователя", 2 },
    { "Неисправность часов реального времени", 4 },
    { "Сбой часов реального времени", 5 },
    { "Ошибка инициализации журнала событий", 6 },
    { "Ошибка связи с модулем ИПП", 3 },
    { "Напряжение питания модуля ИПП неисправно", 8 },
    { "Загрязнение оптики", 9 },
    { "ИК канал неисправен", 10 },
    { "УФ канал неисправен", 11 },
    { "Ошибка калибровки оптики", 15 },
    { "Обнаружение тестового фонаря", 7 },
};

// Icons 1..8 follow the field device status bits 0x01..0x80 in turn, with the library's text of
// that bit as their tooltip; icon 9 the lock state.
const struct {
    const char* setPicture;
    const char* clearPicture;
} statusIconTable[] = {
    { "primaryOut.png", "primaryOutDisabled.png" },
    { "secondaryOut.png", "secondaryOutDisabled.png" },
    { "remove.png", "removeDisabled.png" },
    { "pin.png", "pinDisabled.png" },
    { "warning.png", "warningDisabled.png" },
    { "power.png", "powerDisabled.png" },
    { "change.png", "changeDisabled.png" },
    { "error.png", "errorDisabled.png" },
    { "lock.png", "unlock.png" },
};
constexpr int lockIcon = 8;

QString iconHtml(const char* file)
{
    return QStringLiteral("<img src=\":/new/prefix/Resources/Icons/Basic/11x11/") + QLatin1String(file)
        + QStringLiteral("\"/>");
}

// Built once; every label refers to the same strings.
struct IconTexts {
    QString set[9];
    QString clear[9];
    QString lockUnknown;

    IconTexts()
    {
        for (int i = 0; i < 9; ++i) {
            set[i] = iconHtml(statusIconTable[i].setPicture);
            clear[i] = iconHtml(statusIconTable[i].clearPicture);
        }
        lockUnknown = iconHtml("lockDisabled.png");
    }
};

const IconTexts& iconTexts()
{
    static const IconTexts texts;
    return texts;
}

const char* const stateNames[] = { "", "Загрузка", "Диагностика", "Норма", "Предупреждение", "Сработал",
                                   "Неисправность" };
constexpr int stateNameCount = int(sizeof stateNames / sizeof stateNames[0]);

// The device sends the state as a float; anything that does not round to a known state
// (NaN and infinities included) shows nothing.
QString stateName(float value)
{
    const double rounded = double(value) + 0.5;
    if (!(rounded >= 0.0 && rounded < stateNameCount))
        return QString();
    return QString::fromUtf8(stateNames[int(rounded)]);
}

bool qualityBad(uint8_t status)
{
    return (status >> 6) == 0;
}

bool valueLimited(uint8_t status)
{
    const uint8_t limit = (status >> 4) & 0x03;
    return limit == 0x01 || limit == 0x02;
}

QString valueWithUnit(float value, uint8_t unitCode)
{
    return QString::number(double(value), 'g', 6) + ' ' + QString::fromUtf8(Hart::unitText(unitCode));
}

}

void MainWindow::buildStatusDisplay()
{
    for (int i = 0; i < faultLineCount; ++i) {
        faultLines[i] = new QLabel(faultLineHtml(faultLineTable[i].text), this);
        faultLines[i]->hide();
        ui->errorLayout->addWidget(faultLines[i]);
    }

    const IconTexts& texts = iconTexts();
    auto* holder = new QWidget(this);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Статус: "), holder));
    for (int i = 0; i < statusIconCount; ++i) {
        statusIcons[i] = new QLabel(i == lockIcon ? texts.lockUnknown : texts.clear[i], holder);
        statusIcons[i]->setToolTip(i == lockIcon ? QStringLiteral("Блокировка устройства")
                                                 : QString::fromUtf8(Hart::deviceStatusText(unsigned(i))));
        layout->addWidget(statusIcons[i]);
    }
    ui->statusBar->addWidget(holder);
}

void MainWindow::setStatusIcons(uint8_t status)
{
    const IconTexts& texts = iconTexts();
    for (int i = 0; i < 8; ++i)
        statusIcons[i]->setText((status >> i) & 1 ? texts.set[i] : texts.clear[i]);
}

void MainWindow::onDeviceStatusChanged(Hart::ParserMaster* master, uint8_t status)
{
    windowOf(master)->setStatusIcons(status);
}

void MainWindow::updateLockIcon()
{
    const IconTexts& texts = iconTexts();
    statusIcons[lockIcon]->setText(lockState & 0x01 ? texts.set[lockIcon] : texts.clear[lockIcon]);
}

void MainWindow::updateLockActions()
{
    const uint8_t l = lockState;
    ui->unlock->setChecked((l & 0x01) == 0);
    // Lock-all sets 0x08 on top of the temporary lock's 0x01; only one of the two is checked.
    ui->lockTemporary->setChecked((l & 0x0F) == 0x01);
    ui->lockPermanent->setChecked((l & 0x0F) == 0x03);
    ui->lockAll->setChecked((l & 0x0D) == 0x09);
    // A lock set by the primary master (0x04) is not ours to change.
    const bool lockedByPrimary = (l & 0x05) == 0x05;
    ui->unlock->setEnabled(!lockedByPrimary);
    ui->lockAll->setEnabled(!lockedByPrimary);
    const bool lockable = !(l & 0x01) || (l & 0x0C) == 0;
    ui->lockTemporary->setEnabled(lockable);
    ui->lockPermanent->setEnabled(lockable);
}

void MainWindow::updateLoopCurrentActions()
{
    const bool fixed = deviceStatus & 0x08;
    const float current = dynamicVariables.fixedCurrent;
    ui->normalCurrentMode->setChecked(!fixed && loopCurrentMode == 1);
    ui->multiDropMode->setChecked(fixed && loopCurrentMode == 0);
    ui->fixMode4->setChecked(fixed && loopCurrentMode == 1 && current == 4.0f);
    ui->fixMode20->setChecked(fixed && loopCurrentMode == 1 && current == 20.0f);
}

void MainWindow::showLoopCurrent(bool checkMode)
{
    if (checkMode && loopCurrentMode != 1) {
        ui->curCurrent->setText(QStringLiteral("---"));
    } else {
        ui->curCurrent->setText(valueWithUnit(loopCurrentValue.value, milliampereUnit));
        showFresh(ui->curCurrent, normalPalette);
        trendWindow->addSample(Trend::LoopCurrent, loopCurrentValue.value, false,
                               QString::fromUtf8(Hart::unitText(milliampereUnit)));
    }
    updateLoopCurrentActions();
}

void MainWindow::showDeviceVariable(uint8_t index)
{
    QLineEdit* const fields[3] = { ui->curState, ui->irValue, ui->uvValue };
    if (index >= 3 || index >= dynamicVariables.recordCount)
        return;
    const Hart::DeviceVariable& v = deviceVariables[index];
    QString text;
    if (index > 0 && index >= dynamicVariables.variableLimit)
        text = QString();
    else if (qualityBad(v.status))
        text = QStringLiteral("?");
    else if (index == 0)
        text = stateName(v.value);
    else
        text = valueWithUnit(v.value, v.unitCode);
    const bool red = text == QLatin1String("?") || valueLimited(v.status);
    fields[index]->setText(text);
    showFresh(fields[index], red ? redTextPalette : normalPalette);
    if (index > 0 && !text.isEmpty())
        trendWindow->addSample(Trend::Series(index), v.value, red, QString::fromUtf8(Hart::unitText(v.unitCode)));
}

void MainWindow::showLiveValuesStale(const QString& reason)
{
    QPalette grey = normalPalette;
    grey.setBrush(QPalette::All, QPalette::Text, normalPalette.brush(QPalette::Disabled, QPalette::Text));
    for (QLineEdit* field : { ui->curCurrent, ui->curState, ui->irValue, ui->uvValue }) {
        field->setPalette(grey);
        field->setToolTip(reason);
    }
}

void MainWindow::showFresh(QLineEdit* field, const QPalette& palette)
{
    field->setPalette(palette);
    field->setToolTip(QString());
}

void MainWindow::onDeviceVariableUpdated(Hart::DynamicVariablesRecord*, Hart::ParserMaster* master, uint8_t index)
{
    windowOf(master)->showDeviceVariable(index);
}

void MainWindow::showFaultLines()
{
    const unsigned bits = additionalStatus[0] | unsigned(additionalStatus[1]) << 8;
    for (int i = 0; i < faultLineCount; ++i)
        faultLines[i]->setVisible((bits >> faultLineTable[i].bit) & 1);
    const uint8_t moduleVersion = additionalStatus[2];
    ui->ippVersion->setText(moduleVersion ? QString::number(moduleVersion) : QString());
}

void MainWindow::showClock()
{
    if (clock.clockFlags & 0x02) {
        ui->currentTime->setText(QStringLiteral("Ошибка"));
        return;
    }
    const uint32_t seconds = clock.time / 32 / 1000;
    ui->currentTime->setText(QString::asprintf("%02u:%02u:%02u %02u.%02u.%04u", seconds / 3600, seconds / 60 % 60,
                                               seconds % 60, unsigned(clock.date[0]), unsigned(clock.date[1]),
                                               unsigned(clock.date[2]) + 1900));
}

void MainWindow::handleLoopCurrent(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->showLoopCurrent(true);
}

void MainWindow::handleDynamicVariables(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->showLoopCurrent(false);
}

void MainWindow::handleFixedCurrent(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    windowOf(master)->updateLoopCurrentActions();
    windowOf(master)->noteDone(QStringLiteral("Режим токовой петли установлен"));
}

void MainWindow::handleFinalAssemblyNumber(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    window->ui->finalAssemblyNumber->setText(QString::number(window->identity.finalAssemblyNumber));
}

void MainWindow::handleAdditionalStatus(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->showFaultLines();
}

void MainWindow::handleLock(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    window->requestFlags |= Hart::MasterRequest::ReadLockState;
    window->updateLockActions();
    window->noteDone(QStringLiteral("Блокировка устройства изменена"));
}

void MainWindow::handleLockState(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    window->updateLockActions();
    window->updateLockIcon();
}

void MainWindow::handleClockRead(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->showClock();
}
