// How the detector-settings fields depend on the model and on each other: the model layout,
// the coupling of sensitivity, distance and analysis time with their sliders, and the noise
// indicator.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "detectormodel.h"
#include "noiseindicator.h"
#include "settingbits.h"

#include <QSignalBlocker>

#include <cmath>

using namespace DetectorModel;

namespace {

// Integer division rounded half away from zero; a zero divisor (a collapsed range) gives 0.
int64_t roundedDivision(int64_t numerator, int64_t denominator)
{
    if (denominator == 0)
        return 0;
    const bool negative = (numerator < 0) != (denominator < 0);
    const uint64_t n = uint64_t(numerator < 0 ? -numerator : numerator);
    const uint64_t d = uint64_t(denominator < 0 ? -denominator : denominator);
    const int64_t q = int64_t((2 * n + d) / (2 * d));
    return negative ? -q : q;
}

QStringList steps(int first, int last, int step, const QString& suffix = QString())
{
    QStringList list;
    for (int v = first; v <= last; v += step)
        list << QString::number(v) + suffix;
    return list;
}

}

void MainWindow::on_sensitivitySlider_valueChanged(int value)
{
    ui->sensitivity->setValue(value);
}

void MainWindow::on_sensitivity_valueChanged(double value)
{
    markModified(ConfigGroup::detector);
    coupleSensitivity(value);
    updateNoiseIndicator();
}

// The slider and the distance follow the sensitivity without echoing back into it.
void MainWindow::coupleSensitivity(double value)
{
    const int64_t s = int64_t(std::trunc(value));
    const int64_t sMin = int64_t(std::trunc(ui->sensitivity->minimum()));
    const int64_t sMax = int64_t(std::trunc(ui->sensitivity->maximum()));
    const int64_t dMin = ui->sensitivityLen->minimum();
    const int64_t dMax = ui->sensitivityLen->maximum();
    {
        const QSignalBlocker blocker(ui->sensitivitySlider);
        ui->sensitivitySlider->setValue(int(s));
    }
    const QSignalBlocker blocker(ui->sensitivityLen);
    ui->sensitivityLen->setValue(int(dMin + roundedDivision((s - sMin) * (dMax - dMin), sMax - sMin)));
}

void MainWindow::on_sensitivityLen_valueChanged(int distance)
{
    const int64_t sMin = int64_t(std::trunc(ui->sensitivity->minimum()));
    const int64_t sMax = int64_t(std::trunc(ui->sensitivity->maximum()));
    const int64_t dMin = ui->sensitivityLen->minimum();
    const int64_t dMax = ui->sensitivityLen->maximum();
    ui->sensitivity->setValue(double(sMin + roundedDivision((distance - dMin) * (sMax - sMin), dMax - dMin)));
}

void MainWindow::on_analysisTimeSlider_valueChanged(int value)
{
    if (!hasDistanceScale(expandedDeviceType)) {
        value = SettingBits::snapAnalysisTime(value);
        if (ui->analysisTimeSlider->value() != value)
            ui->analysisTimeSlider->setValue(value);
    }
    ui->analysisTime->setValue(value);
}

void MainWindow::on_analysisTime_valueChanged(int value)
{
    markModified(ConfigGroup::detector);
    if (!hasDistanceScale(expandedDeviceType))
        value = SettingBits::snapAnalysisTime(value);
    if (ui->analysisTime->value() != value)
        ui->analysisTime->setValue(value);
    {
        const QSignalBlocker blocker(ui->analysisTimeSlider);
        ui->analysisTimeSlider->setValue(value);
    }
    updateNoiseIndicator();
}

void MainWindow::on_analysisType_currentIndexChanged(int)
{
    markModified(ConfigGroup::detector);
    // The distance scale depends on the type; the layout re-couples the sensitivity to it and
    // recomputes the indicator.
    applyModelLayout();
}

void MainWindow::updateNoiseIndicator()
{
    const int table = NoiseIndicator::tableFor(expandedDeviceType, ui->analysisType->currentIndex());
    if (table == 0) {
        ui->noiseSlider->setValue(0);
        return;
    }
    // The sensitivity scale was kept in single precision; the distance it stands for is not
    // rounded to whole metres here.
    const double s = float(ui->sensitivity->value());
    const double sMin = float(ui->sensitivity->minimum());
    const double sMax = float(ui->sensitivity->maximum());
    const int dMin = ui->sensitivityLen->minimum();
    const int dMax = ui->sensitivityLen->maximum();
    const double distance = sMax > sMin ? dMin + (dMax - dMin) * (s - sMin) / (sMax - sMin) : dMin;
    const double time = ui->analysisTime->value();
    ui->noiseSlider->setValue(NoiseIndicator::position(NoiseIndicator::value(table, distance, time)));
}

void MainWindow::applyModelLayout()
{
    const uint16_t model = expandedDeviceType;
    const bool scaled = hasDistanceScale(model);
    const bool ultraviolet = model == irUv || model == irUv2;
    const QSignalBlocker typeBlocker(ui->analysisType);
    const int type = ui->analysisType->currentIndex();

    ui->model->setText(QString::fromUtf8(DetectorModel::name(model)));

    if (model != layoutModel) {
        layoutModel = model;
        const QStringList types = SettingBits::analysisTypes(model);
        ui->analysisTypeLabel->setVisible(!types.isEmpty());
        ui->analysisType->setVisible(!types.isEmpty());
        if (!types.isEmpty()) {
            ui->analysisType->clear();
            ui->analysisType->addItems(types);
        }
    }

    ui->uvLabel->setVisible(ultraviolet);
    ui->uvValue->setVisible(ultraviolet);
    ui->sensitivityLenLabel->setVisible(scaled);
    ui->sensitivityLen->setVisible(scaled);
    ui->noiseSlider->setVisible(scaled);
    ui->noiseSliderLabel->setVisible(scaled);

    if (scaled) {
        int dMin = 18, dMax = 40, step = 2;
        if (model == ir3) {
            dMin = 17;
            dMax = type < 1 ? 50 : 25;
            step = type < 1 ? 3 : 1;
        } else if (type > 3) {
            dMax = 25;
            step = 1;
        }
        {
            // A narrower range must not clamp the distance and drag the sensitivity along: the
            // distance is recomputed from the sensitivity below.
            const QSignalBlocker blocker(ui->sensitivityLen);
            ui->sensitivityLen->setRange(dMin, dMax);
        }
        ui->sensitivitySlider->setTickPosition(QSlider::TicksBothSides);
        ui->sensitivitySlider->setCaptionsBelow(steps(dMin, dMax, step));
    } else {
        ui->sensitivitySlider->setTickPosition(QSlider::TicksAbove);
        ui->sensitivitySlider->setCaptionsBelow({});
    }

    const int longest = SettingBits::longestAnalysisTime(model);
    const int timeStep = SettingBits::analysisTimeStep(model);
    ui->analysisTime->setMaximum(longest);
    ui->analysisTime->setSingleStep(timeStep);
    ui->analysisTimeSlider->setMaximum(longest);
    ui->analysisTimeSlider->setSingleStep(timeStep);
    ui->analysisTimeSlider->setCaptionsBelow(steps(5, longest, 5, QStringLiteral(" с")));
    if (!scaled)
        ui->analysisTime->setValue(SettingBits::snapAnalysisTime(ui->analysisTime->value()));

    ui->analysisType->setCurrentIndex(type);
    coupleSensitivity(ui->sensitivity->value());
    updateNoiseIndicator();
}
