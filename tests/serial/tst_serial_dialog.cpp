#include "dialogportsettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
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

    // The dialog hands back what the user picked, with either button, and stores nothing itself.
    void buttons()
    {
        using B = QDialogButtonBox;
        for (const auto& [button, result] : {std::pair{B::Ok, QDialog::Accepted}, std::pair{B::Cancel, QDialog::Rejected}}) {
            QSettings settings("Norvel", "serial-dialog-test");
            settings.setValue("PortName HART", "COM1");
            DialogPortSettings dialog({"COM1", "COM3"}, nullptr);
            dialog.port()->setCurrentText("COM1");
            QTimer::singleShot(0, &dialog, [&dialog, pressed = button] {
                dialog.port()->setCurrentIndex(1);
                dialog.findChild<QDialogButtonBox*>("buttonBox")->button(pressed)->click();
            });
            QCOMPARE(dialog.exec(), int(result));
            QCOMPARE(dialog.port()->currentText(), QString("COM3"));
            QCOMPARE(settings.value("PortName HART").toString(), QString("COM1"));
        }
    }
};

QTEST_MAIN(TestSerialDialog)
#include "tst_serial_dialog.moc"
