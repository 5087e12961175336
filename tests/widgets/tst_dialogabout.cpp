#include "widgetstests.h"

#include "dialogabout.h"

#include <QAction>
#include <QLabel>
#include <QTextDocument>
#include <QtTest>

namespace {

DialogAbout::VersionStrings sampleVersion()
{
    return {QStringLiteral("Конфигуратор"), QStringLiteral("ИПП-93кт-Hart"), QStringLiteral("2.1"),
            QStringLiteral("2025"), QStringLiteral("ООО «Норвел»"), QStringLiteral("www.norvel.ru")};
}

QStringList visibleLines(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText().split('\n', Qt::SkipEmptyParts);
}

// Sends a key where a real key press would go: the focused widget, which passes letters up.
void press(QWidget* dialog, Qt::Key key)
{
    QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, key);
}

} // namespace

class TestDialogAbout : public QObject {
    Q_OBJECT

private slots:
    // A value with markup characters shows as typed.
    void textShowsVersionInformation()
    {
        DialogAbout::VersionStrings strings = sampleVersion();
        strings.companyName = QStringLiteral("A&B <Ltd>");
        DialogAbout dialog(strings);
        const QStringList lines = visibleLines(dialog.findChild<QLabel*>("label")->text());
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.mid(0, 5), QStringList({strings.productName, strings.internalName, "v." + strings.productVersion,
                                               strings.releaseYear, strings.companyName}));
        QVERIFY(lines[5].startsWith("Email: ") && lines[5].contains('@'));
        QCOMPARE(lines[6], "Web: " + strings.companyDomain);
    }
    void maintenanceSequence_data()
    {
        // Letters are keys; '|' closes the dialog with OK and opens a new one; '!' is Escape.
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("revealed");
        QTest::addColumn<bool>("actionGone"); // the window that registered it went away first
        QTest::newRow("whole sequence") << "KLOVENT" << true << false;
        QTest::newRow("registered action gone") << "KLOVENT" << true << true;
        QTest::newRow("across many openings") << "K|L|O|V|E|N|T" << true << false;
        QTest::newRow("one short") << "KLOVEN" << false << false;
        QTest::newRow("wrong key starts over") << "KLOXKLOVENT" << true << false;
        QTest::newRow("wrong key resets") << "KLOXVENT" << false << false;
        QTest::newRow("breaking K is no new start") << "KLKLOVENT" << false << false;
        QTest::newRow("K after the breaking K starts") << "KLKKLOVENT" << true << false;
        QTest::newRow("escape resets and closes") << "KLO!VENT" << false << false;
        QTest::newRow("doubled letter resets") << "KKLOVENT" << false << false;
    }
    void maintenanceSequence()
    {
        QFETCH(QString, keys);
        QFETCH(bool, revealed);
        QFETCH(bool, actionGone);
        auto calibration = std::make_unique<QAction>(QStringLiteral("Калибровка оптики"), nullptr);
        calibration->setVisible(false);
        setMaintenanceAction(calibration.get());
        if (actionGone)
            calibration.reset();

        std::unique_ptr<DialogAbout> dialog;
        auto open = [&] {
            dialog = std::make_unique<DialogAbout>(sampleVersion());
            dialog->show();
            return QTest::qWaitForWindowExposed(dialog.get());
        };
        QVERIFY(open());
        // Whatever earlier rows left behind, a key outside the sequence starts from its beginning.
        press(dialog.get(), Qt::Key_1);

        bool closedBySequence = false;
        for (const QChar c : keys) {
            if (c == '|' || !dialog->isVisible()) {
                QVERIFY(open());
                if (c == '|')
                    continue;
            }
            if (c == '!') {
                press(dialog.get(), Qt::Key_Escape);
                QVERIFY(!dialog->isVisible());
                continue;
            }
            press(dialog.get(), Qt::Key(Qt::Key_A + (c.unicode() - 'A')));
            closedBySequence = !dialog->isVisible();
        }
        QCOMPARE(calibration ? calibration->isVisible() : revealed, revealed);
        QCOMPARE(closedBySequence, revealed);
        if (revealed)
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
        setMaintenanceAction(nullptr);
    }
};

WIDGETS_TEST_RUNNER(runDialogAboutTests, TestDialogAbout)

#include "tst_dialogabout.moc"
