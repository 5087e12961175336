#pragma once
// The main window's configuration fields as a profile sees them: their values, what they
// accept, and the highlight that marks a field a loaded profile has changed.

#include "profile.h"

#include <QList>

class QWidget;

// The form's fields as the audit trail and the report name them: a profile's settings, then the
// identity that stays with each detector and never goes into a profile.
namespace FormField {
enum : int { Message = Profile::FieldCount, Tag, Descriptor, Date, LongTag, Address, Count };
// The parameter group (ConfigGroup bit) the field is written with.
std::uint8_t groupOf(int field);
}

namespace Ui {
class MainWindow;
}

class ProfileFields {
public:
    explicit ProfileFields(Ui::MainWindow* ui) : ui(ui) {}

    Profile::Values values(std::uint16_t model) const;
    Profile::Limits limits() const;
    // Sets the fields through the widgets, so the window's own couplings follow; the analysis
    // type goes first, as the other detector settings take their ranges from it.
    void apply(const Profile::Values& values);

    void highlight(const QList<Profile::Field>& fields);
    // Ends the highlight of every field of these groups (ConfigGroup bits).
    void clearHighlight(std::uint8_t groups);
    // The field's label as the window shows it, without the colon.
    QString caption(int field) const;
    // The field's value as the window shows it: texts, the chosen item, numbers with their
    // decimal comma, switches as "да"/"нет", relays as the chosen "НР"/"НЗ".
    QString displayText(int field) const;
    // Whether the window shows the field for the model now laid out.
    bool isShown(int field) const;
    // The widgets that show a field.
    QList<QWidget*> widgetsOf(int field) const;

    // The dynamic property a highlighted widget carries.
    static const char* const highlightProperty;

private:
    Ui::MainWindow* ui;
};
