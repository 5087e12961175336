#include "resources.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Every picture the windows, forms and renderers name, with the size they are laid out for.
// Kept by hand apart from the .qrc, so that an entry dropped from the .qrc fails here.
struct NamedPicture {
    const char* path;
    int size;
};

constexpr NamedPicture namedPictures[] = {
    {":/new/prefix/Resources/zaoNorvel128.png", 128},

    {":/new/prefix/Resources/Icons/Basic/11x11/primaryOut.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/primaryOutDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/secondaryOut.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/secondaryOutDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/remove.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/removeDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/pin.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/pinDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/warning.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/warningDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/power.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/powerDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/change.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/changeDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/error.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/errorDisabled.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/lock.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/unlock.png", 11},
    {":/new/prefix/Resources/Icons/Basic/11x11/lockDisabled.png", 11},

    {":/new/prefix/Resources/Icons/Basic/16x16/folder_open.png", 16},
    {":/new/prefix/Resources/Icons/Basic/16x16/save.png", 16},
    {":/new/prefix/Resources/Icons/Basic/16x16/help.png", 16},
    {":/new/prefix/Resources/Icons/Basic/16x16/info.png", 16},
    {":/new/prefix/Resources/Icons/Basic/16x16/warning.png", 16},
    {":/new/prefix/Resources/Icons/Basic/16x16/delete_button_error.png", 16},

    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/usb_connector-error.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/usb_connector-ok.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/usb_connector-list.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/usb_connector-stats.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-download.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-upload.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-new.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-execute.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-search.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-edit.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-item_hode.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-item_show.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-update.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-delay.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-ok.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-lock.png", 16},
    {":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-share.png", 16},

    {":/new/prefix/Resources/Icons/Security/16x16/padlock_unlock.png", 16},
    {":/new/prefix/Resources/Icons/Security/16x16/padlock-execute.png", 16},
    {":/new/prefix/Resources/Icons/Security/16x16/padlock-user.png", 16},
    {":/new/prefix/Resources/Icons/Security/16x16/padlock.png", 16},

    {":/new/prefix/Resources/Icons/WebEmail/16x16/share-error.png", 16},
    {":/new/prefix/Resources/Icons/WebEmail/16x16/share.png", 16},
    {":/new/prefix/Resources/Icons/WebEmail/16x16/share-pin.png", 16},

    {":/new/prefix/Resources/Icons/ProjectManagment/16x16/time.png", 16},
    {":/new/prefix/Resources/Icons/ProjectManagment/16x16/time-new.png", 16},
    {":/new/prefix/Resources/Icons/ProjectManagment/16x16/time-open.png", 16},
    {":/new/prefix/Resources/Icons/ProjectManagment/16x16/time-download.png", 16},
    {":/new/prefix/Resources/Icons/ProjectManagment/16x16/time-erase.png", 16},

    {":/new/prefix/Resources/Icons/Industry/16x16/manufacturing_process_1_gear-edit.png", 16},
};

// Resource paths as the .qrc lists them (prefix + file, or prefix + alias).
QStringList qrcPaths()
{
    QFile file(QStringLiteral(RESOURCES_QRC));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList paths;
    QXmlStreamReader xml(&file);
    QString prefix;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("qresource")) {
            prefix = xml.attributes().value(QLatin1String("prefix")).toString();
        } else if (xml.name() == QLatin1String("file")) {
            const QString alias = xml.attributes().value(QLatin1String("alias")).toString();
            const QString name = xml.readElementText();
            paths << QLatin1Char(':') + prefix + QLatin1Char('/') + (alias.isEmpty() ? name : alias);
        }
    }
    if (xml.hasError())
        qWarning("%s: %s", RESOURCES_QRC, qPrintable(xml.errorString()));
    return xml.hasError() ? QStringList() : paths;
}

// A glyph must be drawn, not an empty or one-colour square: a fifth of its area visible
// and at least two colours among the visible pixels.
void verifyDrawn(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int visible = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb pixel = argb.pixel(x, y);
            if (qAlpha(pixel) >= 128) {
                ++visible;
                colours.insert(pixel | 0xff000000u);
            }
        }
    }
    const int area = argb.width() * argb.height();
    QVERIFY2(visible * 5 >= area, qPrintable(QStringLiteral("%1 of %2 pixels visible").arg(visible).arg(area)));
    QVERIFY2(colours.size() > 1, "the glyph has a single colour");
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initResources();
        QVERIFY2(!qrcPaths().isEmpty(), "the .qrc could not be read");
    }

    void namedPicture_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        for (const NamedPicture& picture : namedPictures)
            QTest::newRow(picture.path) << QString::fromLatin1(picture.path) << picture.size;
    }

    void namedPicture()
    {
        QFETCH(QString, path);
        QFETCH(int, size);
        QVERIFY2(qrcPaths().contains(path), "missing from the .qrc");
        const QImage image(path);
        QVERIFY2(!image.isNull(), "not compiled in, or not a readable picture");
        QCOMPARE(image.size(), QSize(size, size));
        verifyDrawn(image);
    }

    // Pictures beyond the named ones must also be sound, and sized as their folder says.
    void listedPicture_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString& path : qrcPaths())
            QTest::newRow(qPrintable(path)) << path;
    }

    void listedPicture()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY2(!image.isNull(), "not compiled in, or not a readable picture");
        const QRegularExpressionMatch folder = QRegularExpression(QStringLiteral("/(\\d+)x(\\d+)/")).match(path);
        if (folder.hasMatch())
            QCOMPARE(image.size(), QSize(folder.captured(1).toInt(), folder.captured(2).toInt()));
        verifyDrawn(image);
    }

    // Each of these pairs shows two states of one control; identical art would hide the change.
    void statesDiffer_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        const QString status = QStringLiteral(":/new/prefix/Resources/Icons/Basic/11x11/");
        for (const char* name : {"primaryOut", "secondaryOut", "remove", "pin", "warning", "power", "change", "error", "lock"}) {
            QTest::newRow(name) << status + QLatin1String(name) + QLatin1String(".png")
                                << status + QLatin1String(name) + QLatin1String("Disabled.png");
        }
        QTest::newRow("lock/unlock") << status + QLatin1String("lock.png") << status + QLatin1String("unlock.png");
        QTest::newRow("unlock/lockDisabled") << status + QLatin1String("unlock.png") << status + QLatin1String("lockDisabled.png");
        QTest::newRow("usb_connector error/ok")
            << QStringLiteral(":/new/prefix/Resources/Icons/HardwareNetwork/16x16/usb_connector-error.png")
            << QStringLiteral(":/new/prefix/Resources/Icons/HardwareNetwork/16x16/usb_connector-ok.png");
        QTest::newRow("hardware download/upload")
            << QStringLiteral(":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-download.png")
            << QStringLiteral(":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-upload.png");
        QTest::newRow("padlock/padlock_unlock")
            << QStringLiteral(":/new/prefix/Resources/Icons/Security/16x16/padlock.png")
            << QStringLiteral(":/new/prefix/Resources/Icons/Security/16x16/padlock_unlock.png");
        QTest::newRow("info/warning")
            << QStringLiteral(":/new/prefix/Resources/Icons/Basic/16x16/info.png")
            << QStringLiteral(":/new/prefix/Resources/Icons/Basic/16x16/warning.png");
    }

    void statesDiffer()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        const QImage a(first);
        const QImage b(second);
        QVERIFY(!a.isNull());
        QVERIFY(!b.isNull());
        QVERIFY2(a.convertToFormat(QImage::Format_ARGB32) != b.convertToFormat(QImage::Format_ARGB32),
                 "the two states look the same");
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
