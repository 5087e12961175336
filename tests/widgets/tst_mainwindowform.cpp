#include "widgetstests.h"

#include "ui_mainwindow.h"

#include <QFile>
#include <QMainWindow>
#include <QXmlStreamReader>
#include <QtTest>

#ifdef WIDGETS_TEST_HAVE_RESOURCES
#include "resources.h"
#endif

namespace {

const QString iconRoot = QStringLiteral(":/new/prefix/Resources/Icons/");

struct IconFiles
{
    QString off;
    QString on;
};

// The icon files each action names in the form, read from the form file itself.
QHash<QString, IconFiles> actionIconFiles()
{
    QHash<QString, IconFiles> icons;
    QFile file(QStringLiteral(MAINWINDOW_UI_PATH));
    if (!file.open(QIODevice::ReadOnly))
        return icons;
    QXmlStreamReader xml(&file);
    QString action;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("action"))
            action = xml.attributes().value("name").toString();
        else if (xml.isEndElement() && xml.name() == QLatin1String("action"))
            action.clear();
        else if (xml.isStartElement() && !action.isEmpty() && xml.name() == QLatin1String("normaloff"))
            icons[action].off = xml.readElementText();
        else if (xml.isStartElement() && !action.isEmpty() && xml.name() == QLatin1String("normalon"))
            icons[action].on = xml.readElementText();
    }
    return icons;
}

QStringList entries(const QWidget* menuOrBar)
{
    QStringList names;
    for (QAction* action : menuOrBar->actions()) {
        if (action->isSeparator())
            names << "|";
        else if (action->menu())
            names << action->menu()->objectName();
        else
            names << action->objectName();
    }
    return names;
}

} // namespace

class TestMainWindowForm : public QObject {
    Q_OBJECT

    std::unique_ptr<QMainWindow> window;
    std::unique_ptr<Ui::MainWindow> ui;

private slots:
#ifdef WIDGETS_TEST_HAVE_RESOURCES
    void initTestCase() { initResources(); }
#endif
    void init()
    {
        window = std::make_unique<QMainWindow>();
        ui = std::make_unique<Ui::MainWindow>();
        ui->setupUi(window.get());
    }
    void actions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("checkable");
        QTest::addColumn<QString>("icon");
        struct Row { const char* name; const char* text; bool checkable; const char* icon; };
        const Row rows[] = {
            {"connectButton", "Соединить", true, "HardwareNetwork/16x16/usb_connector-error.png"},
            {"connectRead", "Прочитать конфигурацию", true, "HardwareNetwork/16x16/hardware-download.png"},
            {"connectWrite", "Записать конфигурацию", false, "HardwareNetwork/16x16/hardware-upload.png"},
            {"fileOpen", "Открыть файл с конфигурацией", false, "Basic/16x16/folder_open.png"},
            {"fileSave", "Сохранить файл с конфигурацией", false, "Basic/16x16/save.png"},
            {"aboutAction", "О программе", false, "Basic/16x16/help.png"},
            {"resetDefault", "Сброс настроек по умолчанию", false, "HardwareNetwork/16x16/hardware-new.png"},
            {"restart", "Перезагрузка устройства", false, "HardwareNetwork/16x16/hardware-execute.png"},
            {"traffic", "Трафик", true, "HardwareNetwork/16x16/usb_connector-stats.png"},
            {"find", "Поиск извещателя", true, "HardwareNetwork/16x16/hardware-search.png"},
            {"resetFlagChanges", "Сброс флага первичной конфигурации", false, "HardwareNetwork/16x16/hardware-edit.png"},
            {"unlock", "Разблокировать устройство", true, "Security/16x16/padlock_unlock.png"},
            {"lockTemporary", "Заблокировать временно", true, "Security/16x16/padlock-execute.png"},
            {"lockPermanent", "Заблокировать перманентно", true, "Security/16x16/padlock-user.png"},
            {"lockAll", "Заблокировать для всех", true, "Security/16x16/padlock.png"},
            {"normalCurrentMode", "Режим сигнализации", true, "WebEmail/16x16/share-error.png"},
            {"multiDropMode", "Многоточечный режим", true, "WebEmail/16x16/share.png"},
            {"fixMode4", "Фиксированный режим 4 мА", true, "WebEmail/16x16/share-pin.png"},
            {"fixMode20", "Фиксированный режим 20 мА", true, "WebEmail/16x16/share-pin.png"},
            {"calibration", "Калибровка оптики", false, "HardwareNetwork/16x16/hardware-item_hode.png"},
            {"actionCheckOptics", "Проверка оптики", false, "HardwareNetwork/16x16/hardware-item_show.png"},
            {"actionFirmwareUpdate", "Обновление ПО извещателя", false, "HardwareNetwork/16x16/hardware-update.png"},
            {"actionReadLog", "Чтение журнала событий", true, "HardwareNetwork/16x16/hardware-delay.png"},
            {"actionClearStatus", "Сброс состояния", false, "HardwareNetwork/16x16/hardware-ok.png"},
        };
        for (const Row& row : rows)
            QTest::newRow(row.name) << row.name << QString::fromUtf8(row.text) << row.checkable << row.icon;
    }
    void actions()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, checkable);
        QFETCH(QString, icon);
        auto* action = window->findChild<QAction*>(name);
        QVERIFY2(action, qPrintable(name));
        QCOMPARE(action->text(), text);
        QCOMPARE(action->toolTip(), text);
        QCOMPARE(action->isCheckable(), checkable);
        QVERIFY(!action->isChecked());
        QVERIFY(!action->icon().isNull());
        static const QHash<QString, IconFiles> files = actionIconFiles();
        QCOMPARE(files.value(name).off, iconRoot + icon);
    }
    void fields_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("fieldClass");
        struct Row { const char* group; const char* label; const char* field; const char* fieldClass; };
        const Row rows[] = {
            {"groupBox", "Серийный номер:", "serial", "QLineEdit"},
            {"groupBox", "Версия протокола:", "versionProtocol", "QLineEdit"},
            {"groupBox", "Версия прибора:", "versionDevice", "QLineEdit"},
            {"groupBox", "Версия модели:", "versionHardware", "QLineEdit"},
            {"groupBox", "Версия ПО:", "versionSoft", "QLineEdit"},
            {"groupBox", "Номер сборки:", "finalAssemblyNumber", "QLineEdit"},
            {"groupBox", "Модель извещателя:", "model", "QLineEdit"},
            {"groupBox", "Версия модуля:", "ippVersion", "QLineEdit"},
            {"groupBox_3", "Текущий ток:", "curCurrent", "QLineEdit"},
            {"groupBox_3", "Текущее состояние:", "curState", "QLineEdit"},
            {"groupBox_3", "Данные ИК канала:", "irValue", "QLineEdit"},
            {"groupBox_3", "Данные УФ канала:", "uvValue", "QLineEdit"},
            {"groupBox_4", "Короткий адрес:", "address", "QSpinBox"},
            {"groupBox_4", "Заголовок:", "tag", "QLineEdit"},
            {"groupBox_4", "Длинный заголовок:", "longTag", "QLineEdit"},
            {"groupBox_4", "Описание:", "descriptor", "QLineEdit"},
            {"groupBox_4", "Заметки:", "message", "QLineEdit"},
            {"groupBox_4", "Дата:", "date", "QDateEdit"},
            {"groupBox_4", "Текущее время:", "currentTime", "QLineEdit"},
            {"groupBox_4", "...", "updateTime", "QToolButton"},
            {"groupBox_5", "Ток неисправности:", "currentError", "QDoubleSpinBox"},
            {"groupBox_5", "Ток загрязнения оптики:", "currentOptic", "QDoubleSpinBox"},
            {"groupBox_5", "Ток дежурного режима:", "currentIdle", "QDoubleSpinBox"},
            {"groupBox_5", "Ток диагностики:", "currentTest", "QDoubleSpinBox"},
            {"groupBox_5", "Ток сработки:", "currentAlarm", "QDoubleSpinBox"},
            {"groupBox_6", "Чувствительность:", "sensitivitySlider", "Slider"},
            {"groupBox_6", "Расстояние, не менее:", "sensitivityLen", "QSpinBox"},
            {"groupBox_6", "Чувствительность:", "sensitivity", "QDoubleSpinBox"},
            {"groupBox_6", "Время анализа:", "analysisTimeSlider", "Slider"},
            {"groupBox_6", "Время анализа:", "analysisTime", "QSpinBox"},
            {"groupBox_6", "Алгоритм фиксации состояния \"Сработал\":", "analysisType", "QComboBox"},
            {"groupBox_6", "Индикатор помехозащищенности\n(с учетом выбранных параметров)", "noiseSlider", "Slider"},
            {"groupBox_6", "Фиксация сигнала \"Сработал\":", "fixTime", "QComboBox"},
            {"groupBox_6", "Автоматический подогрев оптики:", "autoHeat", "QCheckBox"},
            {"groupBox_6", "Начальное состояние реле Р1 \"Сработал\":", "alarmNO", "QRadioButton"},
            {"groupBox_6", "НЗ", "alarmNC", "QRadioButton"},
            {"groupBox_6", "Начальное состояние реле Р2 \"Авария\":", "faultNO", "QRadioButton"},
            {"groupBox_6", "НЗ", "faultNC", "QRadioButton"},
        };
        for (const Row& row : rows)
            QTest::addRow("%s %s", row.group, row.field)
                << row.group << QString::fromUtf8(row.label) << row.field << row.fieldClass;
    }
    // Each label text appears in its group, and each field sits in the same group.
    void fields()
    {
        QFETCH(QString, group);
        QFETCH(QString, label);
        QFETCH(QString, field);
        QFETCH(QString, fieldClass);
        auto* box = window->findChild<QGroupBox*>(group);
        QVERIFY2(box, qPrintable(group));
        QWidget* widget = box->findChild<QWidget*>(field);
        QVERIFY2(widget, qPrintable(field));
        QCOMPARE(QString(widget->metaObject()->className()), fieldClass);

        QStringList texts;
        for (QObject* child : box->findChildren<QObject*>()) {
            const QVariant text = child->property("text");
            if (text.isValid())
                texts << text.toString();
        }
        QVERIFY2(texts.contains(label), qPrintable(label));
    }
    void initialValues_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        using Values = std::initializer_list<std::pair<const char*, QVariant>>;
        auto rows = [](const char* name, Values values) {
            for (const auto& value : values)
                QTest::addRow("%s.%s", name, value.first) << QString(name) << QByteArray(value.first) << value.second;
        };
        rows("MainWindow", {{"windowTitle", "MainWindow"}, {"size", QSize(818, 718)}});
        rows("groupBox", {{"title", QStringLiteral("Информация об устройстве")}});
        rows("groupBox_3", {{"title", QStringLiteral("Состояние извещателя")}});
        rows("groupBox_4", {{"title", QStringLiteral("Настройка полевого устройства")}});
        rows("groupBox_5", {{"title", QStringLiteral("Настройки токового выхода")}});
        rows("groupBox_6", {{"title", QStringLiteral("Настройки извещателя")}});
        rows("menu", {{"title", QStringLiteral("Файл")}});
        rows("menu_2", {{"title", QStringLiteral("Подключение")}});
        rows("menu_3", {{"title", QStringLiteral("Правка")}});
        rows("menu_4", {{"title", QStringLiteral("Справка")}});
        rows("menu_5", {{"title", QStringLiteral("Блокировка устройства")}});
        rows("menu_7", {{"title", QStringLiteral("Токовый выход")}});
        rows("mainToolBar", {{"windowTitle", "toolBar"}});
        rows("ippVersionLabel", {{"text", QStringLiteral("Версия модуля:")}});
        rows("uvLabel", {{"text", QStringLiteral("Данные УФ канала:")}});
        rows("analysisTypeLabel", {{"text", QStringLiteral("Алгоритм фиксации состояния \"Сработал\":")}});
        rows("noiseSliderLabel", {{"text", QStringLiteral("Индикатор помехозащищенности\n(с учетом выбранных параметров)")}});
        rows("updateTime", {{"toolTip", QStringLiteral("Установить текущее время")}});
        for (const char* name : {"serial", "versionProtocol", "versionDevice", "versionHardware", "versionSoft",
                                 "finalAssemblyNumber", "model", "ippVersion", "curCurrent", "curState", "irValue",
                                 "uvValue", "currentTime"})
            rows(name, {{"readOnly", true}});
        for (const char* name : {"tag", "longTag", "descriptor", "message"})
            rows(name, {{"readOnly", false}});
        rows("curCurrent", {{"minimumWidth", 200}});
        rows("curState", {{"minimumWidth", 200}});
        rows("address", {{"minimum", 0}, {"maximum", 62}});
        rows("date", {{"minimumDate", QDate(2000, 1, 1)}, {"maximumDate", QDate(2099, 12, 31)},
                      {"date", QDate(2000, 1, 1)}, {"calendarPopup", true}});
        const std::pair<const char*, double> currents[] = {
            {"currentError", 2}, {"currentOptic", 3}, {"currentIdle", 4}, {"currentTest", 8}, {"currentAlarm", 18}};
        for (const auto& current : currents)
            rows(current.first, {{"value", current.second}, {"decimals", 3}, {"minimum", 0.0}, {"maximum", 24.0},
                                 {"singleStep", 1.0}, {"suffix", QStringLiteral(" мА")}});
        rows("sensitivitySlider", {{"minimum", 0}, {"maximum", 100}, {"value", 100}, {"tickInterval", 25},
                                   {"tickPosition", int(QSlider::TicksBothSides)}});
        rows("sensitivity", {{"decimals", 0}, {"maximum", 100.0}, {"value", 100.0}});
        rows("sensitivityLen", {{"suffix", QStringLiteral(" м")}, {"minimum", 18}, {"maximum", 40}, {"value", 40}});
        rows("analysisTimeSlider", {{"minimum", 5}, {"maximum", 20}, {"pageStep", 5}, {"value", 10}, {"tickInterval", 5},
                                    {"tickPosition", int(QSlider::TicksBothSides)}, {"minimumWidth", 240}});
        rows("analysisTime", {{"suffix", QStringLiteral(" с")}, {"minimum", 5}, {"maximum", 20}, {"singleStep", 1}, {"value", 10}});
        rows("analysisType", {{"count", 5}, {"currentIndex", 4},
                              {"currentText", QStringLiteral("ИК и УФ каналы (повышенная помехозащищенность)")},
                              {"items", QStringList{QStringLiteral("ИК и УФ каналы"), QStringLiteral("Только ИК канал"),
                                                    QStringLiteral("Только УФ канал"), QStringLiteral("ИК или УФ канал"),
                                                    QStringLiteral("ИК и УФ каналы (повышенная помехозащищенность)")}}});
        rows("noiseSlider", {{"enabled", false}, {"minimum", 0}, {"maximum", 100}, {"tickPosition", int(QSlider::TicksBelow)}});
        rows("fixTime", {{"count", 2}, {"currentText", QStringLiteral("Не менее 10 секунд")},
                         {"items", QStringList{QStringLiteral("Не менее 10 секунд"), QStringLiteral("До сброса напряжения питания")}}});
        rows("autoHeat", {{"checked", true}, {"text", QString()}});
        rows("alarmNO", {{"checked", true}, {"text", QStringLiteral("НР")}});
        rows("alarmNC", {{"checked", false}});
        rows("faultNO", {{"checked", false}, {"text", QStringLiteral("НР")}});
        rows("faultNC", {{"checked", true}});
    }
    void initialValues()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QObject* object = name == "MainWindow" ? window.get() : window->findChild<QObject*>(name);
        QVERIFY2(object, qPrintable(name));
        // A combo box's "items" are its item texts in order.
        QVariant actual = object->property(property.constData());
        if (auto* box = qobject_cast<QComboBox*>(object); box && property == "items") {
            QStringList texts;
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
            actual = texts;
        }
        QVERIFY2(actual.isValid(), property.constData());
        if (property == "tickPosition")
            QCOMPARE(actual.toInt(), value.toInt());
        else
            QCOMPARE(actual, value);
    }
    void menusInOrder()
    {
        QCOMPARE(entries(ui->menuBar), (QStringList{"menu", "menu_2", "menu_3", "menu_4"}));
        QVERIFY(!ui->menu_5->icon().isNull());
        QVERIFY(!ui->menu_7->icon().isNull());

        QCOMPARE(entries(ui->menu), (QStringList{"fileOpen", "fileSave"}));
        QCOMPARE(entries(ui->menu_2), (QStringList{"connectButton", "find", "traffic"}));
        QCOMPARE(entries(ui->menu_3),
                 (QStringList{"connectRead", "connectWrite", "actionClearStatus", "restart", "resetFlagChanges", "menu_5",
                              "menu_7", "calibration", "actionCheckOptics", "resetDefault"}));
        QCOMPARE(entries(ui->menu_5), (QStringList{"unlock", "lockTemporary", "lockPermanent", "lockAll"}));
        QCOMPARE(entries(ui->menu_7), (QStringList{"normalCurrentMode", "multiDropMode", "fixMode4", "fixMode20"}));
        QCOMPARE(entries(ui->menu_4), (QStringList{"aboutAction", "actionFirmwareUpdate", "actionReadLog"}));
    }
    void toolBarInOrder()
    {
        QCOMPARE(window->toolBarArea(ui->mainToolBar), Qt::TopToolBarArea);
        QCOMPARE(entries(ui->mainToolBar),
                 (QStringList{"fileOpen", "fileSave", "|", "connectButton", "|", "find", "connectRead", "connectWrite",
                              "actionClearStatus", "|", "traffic", "aboutAction"}));
    }
    void calibrationHidden()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(!ui->calibration->isVisible());
        QVERIFY(ui->menu_3->actions().contains(ui->calibration));
        // A hidden action takes no room in the menu.
        ui->menu_3->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(ui->menu_3));
        QVERIFY(ui->menu_3->actionGeometry(ui->calibration).isEmpty());
        ui->calibration->setVisible(true);
        QVERIFY(!ui->menu_3->actionGeometry(ui->calibration).isEmpty());
        ui->menu_3->hide();
    }
    void sharedAndStateIcons()
    {
        const QHash<QString, IconFiles> files = actionIconFiles();
        QCOMPARE(files.value("fixMode20").off, files.value("fixMode4").off);
        QCOMPARE(ui->fixMode20->icon().cacheKey(), ui->fixMode4->icon().cacheKey());
        QCOMPARE(files.value("connectButton").off, iconRoot + "HardwareNetwork/16x16/usb_connector-error.png");
        QCOMPARE(files.value("connectButton").on, iconRoot + "HardwareNetwork/16x16/usb_connector-ok.png");

    #ifdef WIDGETS_TEST_HAVE_RESOURCES
        auto image = [](const QIcon& icon, QIcon::State state) {
            return icon.pixmap(QSize(16, 16), QIcon::Normal, state).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        auto file = [](const QString& path) {
            return QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        QVERIFY(QFile::exists(files.value("fixMode4").off));
        QCOMPARE(image(ui->fixMode20->icon(), QIcon::Off), image(ui->fixMode4->icon(), QIcon::Off));
        const QIcon connect = ui->connectButton->icon();
        QCOMPARE(image(connect, QIcon::Off), file(files.value("connectButton").off));
        QCOMPARE(image(connect, QIcon::On), file(files.value("connectButton").on));
        QVERIFY(image(connect, QIcon::Off) != image(connect, QIcon::On));
    #else
        QSKIP("the resource library is not part of this build; the pictures cannot be compared");
    #endif
    }
};

WIDGETS_TEST_RUNNER(runMainWindowFormTests, TestMainWindowForm)

#include "tst_mainwindowform.moc"
