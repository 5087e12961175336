#include "mainwindow.h"
#include "resources.h"
#include "simulatedwindow.h"
#include "testfiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QLabel>
#include <QtTest>


namespace {

// The configuration fields of the window, as the user sees them; the first six are the
// detector's identity, which a profile leaves alone.
constexpr int identityFields = 6;
const char* const fieldNames[] = { "message", "tag", "descriptor", "date", "longTag", "address",
                                   "sensitivity", "sensitivityLen", "analysisTime", "analysisType", "fixTime",
                                   "autoHeat", "alarmNO", "alarmNC", "faultNO", "faultNC", "currentError",
                                   "currentOptic", "currentIdle", "currentTest", "currentAlarm" };

const QByteArray internalName = QByteArray("ИПП-93кт-Hart");
const QByteArray ownFile = "app=\"" + internalName + "\"\r\nversion=2\r\n";

// One change to the window's fields, named as a row of the tests.
struct Edit {
    QString what;
    QStringList highlighted;
    int groups;
};

// The identity fields as the window showed them, the settings as the profile had them.
QStringList identityAndSettings(const QStringList& identity, const QStringList& settings)
{
    return identity.mid(0, identityFields) + settings.mid(identityFields);
}

}
Q_DECLARE_METATYPE(Edit)

class TestProfile : public QObject, WindowBench {
    Q_OBJECT

    QTemporaryDir dir;

    // In the form only: the search window, a child too, has fields of the same names.
    QWidget* field(const char* name) { return field<QWidget>(name); }
    template <class T> T* field(const char* name) { return window->centralWidget()->findChild<T*>(name); }

    // Every field's shown value, name=value.
    QStringList snapshot()
    {
        QStringList values;
        for (const char* name : fieldNames) {
            QWidget* w = field(name);
            QString value;
            if (auto* e = qobject_cast<QLineEdit*>(w))
                value = e->text();
            else if (auto* d = qobject_cast<QDateEdit*>(w))
                value = d->date().toString(Qt::ISODate);
            else if (auto* i = qobject_cast<QSpinBox*>(w))
                value = QString::number(i->value());
            else if (auto* r = qobject_cast<QDoubleSpinBox*>(w))
                value = QString::number(r->value(), 'f', 3);
            else if (auto* c = qobject_cast<QComboBox*>(w))
                value = QString::number(c->currentIndex());
            else if (auto* b = qobject_cast<QAbstractButton*>(w))
                value = b->isChecked() ? "on" : "off";
            values << QString::fromLatin1(name) + '=' + value;
        }
        return values;
    }
    // The fields shown highlighted; a highlight must be visible, not only flagged.
    QStringList highlighted()
    {
        QStringList names;
        for (const char* name : fieldNames) {
            QWidget* w = field(name);
            const bool flagged = w->property("profileChanged").toBool();
            if (flagged != !w->styleSheet().isEmpty())
                return { QString("flag and look disagree on ") + name };
            if (flagged)
                names << name;
        }
        return names;
    }
    QStringList trigger(const char* action, const QString& path)
    {
        answerer->clearBoxes();
        // A file of that name would add the question whether to replace it.
        if (QByteArray(action).startsWith("save") || QByteArray(action) == "fileSave")
            QFile::remove(path);
        answerer->chooseFile(path);
        this->action(action)->trigger();
        return boxTexts();
    }
    // Changes the fields the edit names; "everything" changes every field.
    void apply(const QString& what)
    {
        const QStringList parts = what.split(", ");
        const bool all = what == "everything";
        auto has = [&](const char* part) { return all || parts.contains(part); };
        auto flip = [this](const char* on, const char* off) {
            auto* checked = field<QRadioButton>(on);
            (checked->isChecked() ? field<QRadioButton>(off) : checked)->setChecked(true);
        };
        if (has("message"))
            field<QLineEdit>("message")->setText("PROFILE \"A\\B\" 1;=<x>");
        if (has("tag"))
            field<QLineEdit>("tag")->setText("T\"AG\\1");
        if (all)
            field<QLineEdit>("descriptor")->setText("PROFILE; TEST");
        if (has("date"))
            field<QDateEdit>("date")->setDate(QDate(2031, 7, 15));
        if (has("long tag"))
            field<QLineEdit>("longTag")->setText(QStringLiteral("Détecteur \"ü\" \\ ÿ"));
        if (has("address"))
            field<QSpinBox>("address")->setValue(7);
        if (all) {
            auto* type = field<QComboBox>("analysisType");
            type->setCurrentIndex(type->currentIndex() == 1 ? 0 : 1);
            field<QSpinBox>("analysisTime")->setValue(17);
            auto* fix = field<QComboBox>("fixTime");
            fix->setCurrentIndex(1 - fix->currentIndex());
            field<QCheckBox>("autoHeat")->toggle();
            flip("alarmNO", "alarmNC");
        }
        if (has("sensitivity"))
            field<QDoubleSpinBox>("sensitivity")->setValue(63);
        if (has("fault relay"))
            flip("faultNC", "faultNO");
        if (all) {
            field<QDoubleSpinBox>("currentError")->setValue(2.5);
            field<QDoubleSpinBox>("currentOptic")->setValue(3.25);
            field<QDoubleSpinBox>("currentTest")->setValue(9);
        }
        if (has("standby current"))
            field<QDoubleSpinBox>("currentIdle")->setValue(4.125);
        if (has("alarm current"))
            field<QDoubleSpinBox>("currentAlarm")->setValue(19.999);
    }

private slots:
    void initTestCase()
    {
        initResources();
        TestClock::install(0x10000u);
        QVERIFY(dir.isValid());
    }
    void init() { start(); }
    void cleanup() { finish(); }

    // Settings of one detector carried to a detector of the same model: saved, the fields read
    // back from the device, loaded, nothing sent until the write, which then sends each group
    // and leaves the device holding the profile. A write or a new read ends the highlight.
    void roundTrip_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("write");
        QTest::newRow("FF04, written") << 0xFF04 << true;
        QTest::newRow("FF04, read again") << 0xFF04 << false;
    }
    void roundTrip()
    {
        QFETCH(int, model);
        QFETCH(bool, write);
        QVERIFY(connectWindow(quick(uint16_t(model))));
        readOnce(100);
        QCOMPARE(window->modifiedParameterGroups(), uint8_t(0));
        const QStringList device = snapshot();
        apply("everything");
        const QStringList edited = snapshot();
        for (int i = 0; i < edited.size(); ++i) // every field changed
            QVERIFY2(edited[i] != device[i], qPrintable(edited[i]));

        const QString path = dir.filePath(QString("profile-%1.cfg").arg(model, 0, 16));
        QCOMPARE(trigger("saveProfile", path), QStringList());
        const QByteArray saved = readFile(path);
        QVERIFY2(saved.startsWith(ownFile + "<parameters>\r\n\tmodel=" + QByteArray::number(model) + "\r\n"),
                 saved.constData());
        for (const char* entry : { "message", "tag", "descriptor", "date", "longTag", "address" })
            QVERIFY2(!saved.contains(QByteArray("\t") + entry + '='), entry);
        const QStringList loaded = identityAndSettings(device, edited);

        readOnce(100);
        QCOMPARE(snapshot(), device);
        QCOMPARE(trigger("loadProfile", path), QStringList());
        QCOMPARE(snapshot(), loaded);
        QCOMPARE(window->modifiedParameterGroups(), uint8_t(0x30));
        QCOMPARE(highlighted(), QStringList(std::begin(fieldNames) + identityFields, std::end(fieldNames)));
        runUntilQuiet(20);
        QCOMPARE(sent(), QString());

        if (write) {
            action("connectWrite")->trigger();
            runUntilQuiet(100);
            QCOMPARE(sent(), QString("132 134"));
            QCOMPARE(boxTexts(), QStringList());
            QCOMPARE(highlighted(), QStringList());
            QCOMPARE(window->modifiedParameterGroups(), uint8_t(0));
            // The device pads its texts with blanks to their full length.
            readOnce(100);
            QStringList readBack = snapshot();
            QStringList expected = loaded;
            for (int i = 0; i < readBack.size(); ++i)
                readBack[i] = readBack[i].trimmed(), expected[i] = expected[i].trimmed();
            QCOMPARE(readBack, expected);
        } else {
            readOnce(100);
            QCOMPARE(snapshot(), device);
            QCOMPARE(highlighted(), QStringList());
        }
    }

    // A profile marks exactly the groups whose fields it changes, and highlights those fields.
    void exactlyTheDifferingGroups_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::newRow("nothing") << Edit{ "nothing", {}, 0 };
        QTest::newRow("sensitivity") << Edit{ "sensitivity", { "sensitivity", "sensitivityLen" }, 0x10 };
        QTest::newRow("fault relay") << Edit{ "fault relay", { "faultNO", "faultNC" }, 0x10 };
        QTest::newRow("two groups") << Edit{ "message, standby current, alarm current",
                                             { "currentIdle", "currentAlarm" }, 0x20 };
    }
    void exactlyTheDifferingGroups()
    {
        QFETCH(Edit, edit);
        linelessWindow();
        apply(edit.what);
        const QStringList edited = snapshot();
        const QString path = dir.filePath("differing.cfg");
        QCOMPARE(trigger("saveProfile", path), QStringList());

        linelessWindow();
        QCOMPARE(window->modifiedParameterGroups(), uint8_t(0));
        const QStringList expected = identityAndSettings(snapshot(), edited);
        QCOMPARE(trigger("loadProfile", path), QStringList());
        QCOMPARE(snapshot(), expected);
        QCOMPARE(int(window->modifiedParameterGroups()), edit.groups);
        QCOMPARE(highlighted(), edit.highlighted);
    }

    // Files a profile load refuses: the window keeps its fields, its marks and its looks.
    void refused_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("box");
        const QString notLoaded = QStringLiteral("\nПараметры не загружены.");
        const QString bad = QStringLiteral("Неверное значение параметра \"%1\" в файле.") + notLoaded;
        QTest::newRow("another model")
            << QByteArray("model=65284") << QByteArray("model=65283")
            << QStringLiteral("Параметры в файле сохранены для другой модели извещателя: \"Альтор - 3 ИК\" HART (FF03).\n"
                              "Модель извещателя в окне: \"Альтор - ИК/УФ\" HART (FF04).") + notLoaded;
        QTest::newRow("no model") << QByteArray("model=65284") << QByteArray("type=65284") << bad.arg("model");
        QTest::newRow("analysis time") << QByteArray("analysisTimeS=10") << QByteArray("analysisTimeS=21")
                                       << bad.arg("analysisTimeS");
        QTest::newRow("current above 24 mA") << QByteArray("alarmCurrentUA=18000")
                                             << QByteArray("alarmCurrentUA=24001") << bad.arg("alarmCurrentUA");
        QTest::newRow("entry missing") << QByteArray("faultCurrentUA") << QByteArray("faultCurrent")
                                       << bad.arg("faultCurrentUA");
    }
    void refused()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, box);
        linelessWindow();
        const QString path = dir.filePath("refused.cfg");
        QCOMPARE(trigger("saveProfile", path), QStringList());
        QByteArray text = readFile(path);
        QVERIFY2(text.contains(from), text.constData());
        writeFile(dir, "refused.cfg", text.replace(from, to));
        field<QLineEdit>("tag")->setText("MINE");
        const QStringList before = snapshot();
        QCOMPARE(trigger("loadProfile", path), QStringList{ box });
        QCOMPARE(answerer->boxes()[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(snapshot(), before);
        QCOMPARE(window->modifiedParameterGroups(), uint8_t(0x02));
        QCOMPARE(highlighted(), QStringList());
    }

    // A profile saved by an earlier version on detector A, identity and all, loaded onto
    // detector B at polling address 5: B keeps its address and its texts, takes A's settings,
    // and the write sends the settings alone. Identity entries the window would refuse are
    // ignored as well.
    void identityStaysWithTheDetector_data()
    {
        QTest::addColumn<QByteArray>("identity");
        QTest::newRow("detector A's identity")
            << QByteArray("\tmessage=\"DETECTOR A\"\r\n\ttag=\"TAG A\"\r\n\tdescriptor=\"A\"\r\n"
                          "\tdate=\"2020-05-01\"\r\n\tlongTag=\"A\"\r\n\taddress=0\r\n");
        QTest::newRow("identity the window would refuse")
            << QByteArray("\tmessage=\"x\"\r\n\ttag=\"TOO LONG A TAG\"\r\n\tdate=\"2000-02-30\"\r\n\taddress=63\r\n");
    }
    void identityStaysWithTheDetector()
    {
        QFETCH(QByteArray, identity);
        Sim::Options options = quick();
        options.pollingAddress = 5;
        QVERIFY(connectWindow(options));
        window->findChild<QSpinBox*>("deviceAddressSpinBox")->setValue(5);
        readOnce(100);
        QCOMPARE(field<QSpinBox>("address")->value(), 5);
        const QStringList before = snapshot();
        const QString path = writeFile(dir, "detector-a.cfg", ownFile + "<parameters>\r\n\tmodel=65284\r\n" + identity
            + "\tsensitivity=10\r\n\tanalysisTimeS=10\r\n\tanalysisType=0\r\n\talarmLatching=0\r\n\tautoHeat=1\r\n"
              "\talarmRelayNormallyOpen=1\r\n\tfaultRelayNormallyClosed=1\r\n\tfaultCurrentUA=2000\r\n"
              "\topticsCurrentUA=3000\r\n\tstandbyCurrentUA=4000\r\n\tdiagnosticCurrentUA=8000\r\n"
              "\talarmCurrentUA=20000\r\n</parameters>\r\n");
        QCOMPARE(trigger("loadProfile", path), QStringList());
        QCOMPARE(snapshot().mid(0, identityFields), before.mid(0, identityFields));
        QCOMPARE(field<QDoubleSpinBox>("currentAlarm")->value(), 20.0);
        action("connectWrite")->trigger();
        runUntilQuiet(100);
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(sent(), QString("132 134"));
        QCOMPARE(int(sim->state().pollingAddress), 5);
        QCOMPARE(QString::fromStdString(sim->state().tag).trimmed(), before[1].section('=', 1).trimmed());
    }

    // The designed file actions are untouched: saving writes its two lines whatever a profile
    // loaded, and a profile opens there silently, changing nothing; a newer or another program's
    // file is refused. Each remembers its folder.
    void designedFileActions()
    {
        linelessWindow();
        const QString profile = dir.filePath("designed-profile.cfg");
        const QString designed = dir.filePath("designed.cfg");
        apply("tag, long tag");
        QCOMPARE(trigger("saveProfile", profile), QStringList());
        linelessWindow();
        QCOMPARE(trigger("loadProfile", profile), QStringList());
        QCOMPARE(trigger("fileSave", designed), QStringList());
        QCOMPARE(readFile(designed), ownFile);
        QSettings settings(QStringLiteral("Norvel"), QStringLiteral("Конфигуратор"));
        QCOMPARE(settings.value(QStringLiteral("DirSave")).toString(), dir.path());
        QVERIFY(window->findChild<QLabel*>("doneLabel")->text().startsWith(QStringLiteral("Файл сохранён: designed.cfg ")));
        QCOMPARE(trigger("loadProfile", designed), QStringList{ QStringLiteral("В файле нет параметров извещателя") });

        linelessWindow();
        const QStringList before = snapshot();
        QCOMPARE(trigger("fileOpen", profile), QStringList());
        QCOMPARE(trigger("fileOpen", designed), QStringList());
        QCOMPARE(settings.value(QStringLiteral("DirOpen")).toString(), dir.path());
        QCOMPARE(snapshot(), before);
        QCOMPARE(window->modifiedParameterGroups(), uint8_t(0));
        QCOMPARE(highlighted(), QStringList());
        QCOMPARE(trigger("fileOpen", writeFile(dir, "newer.cfg", "app=\"" + internalName + "\"\r\nversion=3\r\n")),
                 QStringList{ QStringLiteral("Файл конфигурации более новой версии, чем версия программы") });
        QCOMPARE(answerer->boxes()[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(trigger("fileOpen", writeFile(dir, "other.cfg", "app=\"x\"\r\nversion=2\r\n")),
                 QStringList{ QStringLiteral("Неверный формат файла") });

        // A name typed without its suffix gets ".cfg", as the open dialogs list only those.
        for (const char* action : { "saveProfile", "fileSave" }) {
            const QString bare = dir.filePath(QString("typed-%1").arg(action));
            QFile::remove(bare + ".cfg");
            QCOMPARE(trigger(action, bare), QStringList());
            QVERIFY2(QFile::exists(bare + ".cfg"), action);
        }
    }
};

QTEST_MAIN(TestProfile)
#include "tst_profile.moc"
