#include "widgetstests.h"

#include "dialogfind.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

namespace {

// Types text one character at a time as a keyboard would, including characters beyond Latin-1.
void type(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

class TestDialogFind : public QObject {
    Q_OBJECT

private slots:
    void rangeStaysOrdered_data()
    {
        QTest::addColumn<QString>("steps"); // "f40 t30": set from to 40, then to to 30
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("initial range") << "" << 0 << 62;
        QTest::newRow("first above last drags last up") << "t30 f40" << 40 << 40;
        QTest::newRow("then last below first drags first down") << "t30 f40 t10" << 10 << 10;
        QTest::newRow("only address 62") << "f62" << 62 << 62;
        QTest::newRow("63 is out of range") << "f63 t63" << 62 << 62;
        QTest::newRow("negative is out of range") << "t-1" << 0 << 0;
    }
    void rangeStaysOrdered()
    {
        QFETCH(QString, steps);
        QFETCH(int, first);
        QFETCH(int, last);
        DialogFind dialog;
        auto* from = dialog.findChild<QSpinBox*>("addrFrom");
        auto* to = dialog.findChild<QSpinBox*>("addrTo");
        QVERIFY(from && to);
        for (const QString& step : steps.split(' ', Qt::SkipEmptyParts))
            (step.at(0) == 'f' ? from : to)->setValue(step.mid(1).toInt());
        QCOMPARE(dialog.firstAddress(), first);
        QCOMPARE(dialog.lastAddress(), last);
    }
    // Typed text as each search field takes it; "=" sets the text without typing.
    void textInput_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("digits, capitals, space, punctuation") << "tag" << "A1 _[@" << "A1 _[@";
        QTest::newRow("lower case among capitals refused") << "tag" << "AbC" << "AC";
        QTest::newRow("ninth character refused") << "tag" << "ABCDEFGHI" << "ABCDEFGH";
        QTest::newRow("backquote and braces refused") << "tag" << "`{}~" << "";
        QTest::newRow("Cyrillic refused") << "tag" << QStringLiteral("ЖA") << "A";
        // Text that arrives without typing is shown in capitals.
        QTest::newRow("set text upper-cased") << "tag" << "=ab1 z" << "AB1 Z";
        QTest::newRow("long tag: lower case and punctuation") << "longTag" << "Flame det. #3 {north}" << "Flame det. #3 {north}";
        QTest::newRow("long tag: Latin-1 letters")
            << "longTag" << QStringLiteral("Müller Ångström ÿ") << QStringLiteral("Müller Ångström ÿ");
        QTest::newRow("long tag: above U+00FF refused") << "longTag" << QStringLiteral("a\u0100\u20acb") << "ab";
        QTest::newRow("long tag: 33rd character refused") << "longTag" << QString(33, 'x') << QString(32, 'x');
    }
    void textInput()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        DialogFind dialog;
        auto* edit = dialog.findChild<QLineEdit*>(field);
        QVERIFY(edit);
        if (typed.startsWith('='))
            edit->setText(typed.mid(1));
        else
            type(edit, typed);
        QCOMPARE(field == "tag" ? dialog.tagText() : dialog.longTagText(), shown);
    }
    // The find buttons are no defaults: Enter in the tag field must not start a range scan.
    void enterStartsNoOtherSearch()
    {
        DialogFind dialog;
        QTimer::singleShot(0, &dialog, [&] {
            auto* tag = dialog.findChild<QLineEdit*>("tag");
            tag->setFocus();
            QTest::keyClick(tag, Qt::Key_Return);
            if (dialog.isVisible())
                dialog.reject();
        });
        const int code = dialog.exec();
        QVERIFY2(code == DialogFind::NoSearch || code == DialogFind::ByTag, qPrintable(QString::number(code)));
    }
};

WIDGETS_TEST_RUNNER(runDialogFindTests, TestDialogFind)

#include "tst_dialogfind.moc"
