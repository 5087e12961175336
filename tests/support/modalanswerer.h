#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;

// Answers modal dialogs while a test drives code that calls exec(): every few milliseconds it
// looks at the active modal widget; a message box is recorded (title, text) and answered with
// its default button, any other dialog is handed to the next queued action.
class ModalAnswerer : public QObject {
    Q_OBJECT

public:
    struct Box {
        QString title;
        QString text;
        int icon;
    };

    using Action = std::function<void(QWidget* dialog)>;

    ModalAnswerer();

    // Actions for non-message-box dialogs, used in order; without one the dialog is rejected.
    void queue(Action action) { actions.append(std::move(action)); }

    // Answers the port dialog: chooses `name` (listed first if the machine has no such port)
    // and accepts, or rejects.
    void choosePort(const QString& name, bool accept = true);

    // Answers a file dialog (Qt's own widget dialog) by typing path and accepting it.
    void chooseFile(const QString& path);

    // Dialogs for which this returns true are left open once their queued actions are used,
    // for a test that works in the dialog while it runs modally.
    std::function<bool(QWidget* dialog)> keepOpen;

    // Message boxes are answered with this button when they have it, else the default one.
    void answerBoxesWith(int standardButton) { boxAnswer = standardButton; }

    // How often to look for a dialog; long-running measurements look rarely, so as not to
    // measure the answerer.
    void setPollIntervalMs(int ms) { timer.setInterval(ms); }

    // Called with each message box just before it is answered.
    std::function<void(const Box&)> onBox;

    const QList<Box>& boxes() const { return seen; }
    // The boxes seen, each as "title/text".
    QStringList titledTexts() const;
    void clearBoxes() { seen.clear(); }

private:
    void poll();

    QTimer timer;
    QList<Action> actions;
    QList<Box> seen;
    int boxAnswer = 0;
};
