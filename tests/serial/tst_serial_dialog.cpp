#include "dialogportsettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QtTest>

class TestSerialDialog : public QObject {
    Q_OBJECT

private slots:
    void listsThePortsPresent()
    {
        QStringList expected;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            expected << info.portName();
        DialogPortSettings dialog;
        QStringList listed;
        for (int i = 0; i < dialog.port()->count(); ++i) {
            listed << dialog.port()->itemText(i);
            QVERIFY(dialog.port()->itemData(i).isNull());
        }
        QCOMPARE(listed, expected);
        QCOMPARE(dialog.port()->currentIndex(), expected.isEmpty() ? -1 : 0);
        QVERIFY(!dialog.port()->isEditable());
        QCOMPARE(dialog.windowTitle(), QString("Настройка порта"));
        QCOMPARE(dialog.findChild<QLabel*>("label")->text(), QString("Порт"));
    }

    void preselect_data()
    {
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("index");
        QTest::newRow("stored port present") << QStringList{"COM1", "COM3"} << "COM3" << 1;
        QTest::newRow("two-digit port") << QStringList{"COM9", "COM10", "COM11"} << "COM10" << 1;
        QTest::newRow("stored port gone") << QStringList{"COM1", "COM3"} << "COM7" << 0;
        QTest::newRow("nothing stored") << QStringList{"ttyUSB0", "ttyS0"} << "" << 0;
        QTest::newRow("no ports") << QStringList{} << "COM3" << -1;
    }

    void preselect()
    {
        QFETCH(QStringList, ports);
        QFETCH(QString, stored);
        QFETCH(int, index);

        DialogPortSettings dialog(ports, nullptr);
        dialog.port()->setCurrentText(stored);
        QCOMPARE(dialog.port()->currentIndex(), index);
        QCOMPARE(dialog.port()->currentText(), index < 0 ? QString() : ports.at(index));
    }

    void buttons_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("ok") << int(QDialogButtonBox::Ok) << int(QDialog::Accepted);
        QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << int(QDialog::Rejected);
    }

    // The dialog hands back what the user picked and stores nothing itself.
    void buttons()
    {
        QFETCH(int, button);
        QFETCH(int, result);

        QSettings settings("Norvel", "serial-dialog-test");
        settings.setValue("PortName HART", "COM1");
        DialogPortSettings dialog({"COM1", "COM3"}, nullptr);
        dialog.port()->setCurrentText("COM1");
        QTimer::singleShot(0, &dialog, [&] {
            dialog.port()->setCurrentIndex(1);
            auto* box = dialog.findChild<QDialogButtonBox*>("buttonBox");
            box->button(QDialogButtonBox::StandardButton(button))->click();
        });
        QCOMPARE(dialog.exec(), result);
        QCOMPARE(dialog.port()->currentText(), QString("COM3"));
        QCOMPARE(settings.value("PortName HART").toString(), QString("COM1"));
    }
};

QTEST_MAIN(TestSerialDialog)
#include "tst_serial_dialog.moc"
