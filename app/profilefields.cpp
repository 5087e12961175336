#include "profilefields.h"

#include "detectormodel.h"
#include "ui_mainwindow.h"

using namespace Profile;

const char* const ProfileFields::highlightProperty = "profileChanged";

namespace {

// A pale yellow that every style shows behind a field's text, on light and dark themes alike
// legible with black text.
const QString highlightStyle = QStringLiteral("background-color: #FFE680; color: black;");

int microamperes(const QDoubleSpinBox* box)
{
    return int(box->value() * 1000.0 + 0.5);
}

}

Values ProfileFields::values(std::uint16_t model) const
{
    Values v;
    v.model = model;
    auto& f = v.fields;
    f[Sensitivity] = int(ui->sensitivity->value() + 0.5);
    f[AnalysisTime] = ui->analysisTime->value();
    f[AnalysisType] = ui->analysisType->currentIndex();
    f[FixTime] = ui->fixTime->currentIndex();
    f[AutoHeat] = int(ui->autoHeat->isChecked());
    f[AlarmNormallyOpen] = int(ui->alarmNO->isChecked());
    f[FaultNormallyClosed] = int(ui->faultNC->isChecked());
    f[FaultCurrent] = microamperes(ui->currentError);
    f[OpticsCurrent] = microamperes(ui->currentOptic);
    f[StandbyCurrent] = microamperes(ui->currentIdle);
    f[DiagnosticCurrent] = microamperes(ui->currentTest);
    f[AlarmCurrent] = microamperes(ui->currentAlarm);
    return v;
}

Limits ProfileFields::limits() const
{
    Limits l;
    l[Sensitivity] = { int(ui->sensitivity->minimum()), int(ui->sensitivity->maximum()), 1 };
    // Models with two analysis times step by 5 s; the window would round any other value.
    l[AnalysisTime] = { ui->analysisTime->minimum(), ui->analysisTime->maximum(), ui->analysisTime->singleStep() };
    // A model without analysis types keeps whatever its hidden list holds.
    l[AnalysisType] = { ui->analysisType->isVisibleTo(ui->analysisType->window()) ? 0 : -1,
                        ui->analysisType->count() - 1, 1 };
    l[FixTime] = { 0, ui->fixTime->count() - 1, 1 };
    for (Field f : { AutoHeat, AlarmNormallyOpen, FaultNormallyClosed })
        l[f] = { 0, 1, 1 };
    for (Field f : { FaultCurrent, OpticsCurrent, StandbyCurrent, DiagnosticCurrent, AlarmCurrent })
        l[f] = { int(ui->currentError->minimum() * 1000), int(ui->currentError->maximum() * 1000), 1 };
    return l;
}

void ProfileFields::apply(const Values& values)
{
    const auto& f = values.fields;
    ui->analysisType->setCurrentIndex(f[AnalysisType].toInt());
    ui->sensitivity->setValue(f[Sensitivity].toInt());
    ui->analysisTime->setValue(f[AnalysisTime].toInt());
    ui->fixTime->setCurrentIndex(f[FixTime].toInt());
    ui->autoHeat->setChecked(f[AutoHeat].toBool());
    (f[AlarmNormallyOpen].toBool() ? ui->alarmNO : ui->alarmNC)->setChecked(true);
    (f[FaultNormallyClosed].toBool() ? ui->faultNC : ui->faultNO)->setChecked(true);
    ui->currentError->setValue(f[FaultCurrent].toInt() / 1000.0);
    ui->currentOptic->setValue(f[OpticsCurrent].toInt() / 1000.0);
    ui->currentIdle->setValue(f[StandbyCurrent].toInt() / 1000.0);
    ui->currentTest->setValue(f[DiagnosticCurrent].toInt() / 1000.0);
    ui->currentAlarm->setValue(f[AlarmCurrent].toInt() / 1000.0);
}

std::uint8_t FormField::groupOf(int field)
{
    switch (field) {
    case Message: return ConfigGroup::message;
    case Tag:
    case Descriptor:
    case Date: return ConfigGroup::tagDescriptorDate;
    case LongTag: return ConfigGroup::longTag;
    case Address: return ConfigGroup::address;
    default: break;
    }
    return field >= 0 && field < Profile::FieldCount ? Profile::groupOf(Profile::Field(field)) : 0;
}

QList<QWidget*> ProfileFields::widgetsOf(int field) const
{
    switch (field) {
    case FormField::Message: return { ui->message };
    case FormField::Tag: return { ui->tag };
    case FormField::Descriptor: return { ui->descriptor };
    case FormField::Date: return { ui->date };
    case FormField::LongTag: return { ui->longTag };
    case FormField::Address: return { ui->address };
    case Sensitivity: return { ui->sensitivity, ui->sensitivityLen };
    case AnalysisTime: return { ui->analysisTime };
    case AnalysisType: return { ui->analysisType };
    case FixTime: return { ui->fixTime };
    case AutoHeat: return { ui->autoHeat };
    case AlarmNormallyOpen: return { ui->alarmNO, ui->alarmNC };
    case FaultNormallyClosed: return { ui->faultNO, ui->faultNC };
    case FaultCurrent: return { ui->currentError };
    case OpticsCurrent: return { ui->currentOptic };
    case StandbyCurrent: return { ui->currentIdle };
    case DiagnosticCurrent: return { ui->currentTest };
    case AlarmCurrent: return { ui->currentAlarm };
    default: break;
    }
    return {};
}

QString ProfileFields::caption(int field) const
{
    const QLabel* const labels[FormField::Count] = {
        ui->label_23, ui->label_25, ui->analysisTypeLabel, ui->label_26, ui->label_27, ui->label_28, ui->label_29,
        ui->label_18, ui->label_19, ui->label_20, ui->label_21, ui->label_22,
        ui->label_15, ui->label_12, ui->label_14, ui->label_16, ui->label_13, ui->label_11,
    };
    if (field < 0 || field >= FormField::Count)
        return QString();
    QString text = labels[field]->text().simplified();
    if (text.endsWith(':'))
        text.chop(1);
    return text;
}

QString ProfileFields::displayText(int field) const
{
    switch (field) {
    case AnalysisType: return ui->analysisType->currentText();
    case FixTime: return ui->fixTime->currentText();
    case AutoHeat: return ui->autoHeat->isChecked() ? QStringLiteral("да") : QStringLiteral("нет");
    case AlarmNormallyOpen: return (ui->alarmNO->isChecked() ? ui->alarmNO : ui->alarmNC)->text();
    case FaultNormallyClosed: return (ui->faultNC->isChecked() ? ui->faultNC : ui->faultNO)->text();
    default: break;
    }
    const QWidget* widget = widgetsOf(field).value(0);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (const auto* box = qobject_cast<const QAbstractSpinBox*>(widget))
        return box->text();
    return QString();
}

bool ProfileFields::isShown(int field) const
{
    const QWidget* widget = widgetsOf(field).value(0);
    return widget && widget->isVisibleTo(widget->window());
}

void ProfileFields::highlight(const QList<Field>& fields)
{
    for (Field f : fields)
        for (QWidget* w : widgetsOf(f)) {
            w->setProperty(highlightProperty, true);
            w->setStyleSheet(highlightStyle);
        }
}

void ProfileFields::clearHighlight(std::uint8_t groups)
{
    for (int f = 0; f < FieldCount; ++f) {
        if (!(groupOf(Field(f)) & groups))
            continue;
        for (QWidget* w : widgetsOf(Field(f)))
            if (w->property(highlightProperty).toBool()) {
                w->setProperty(highlightProperty, false);
                w->setStyleSheet(QString());
            }
    }
}
