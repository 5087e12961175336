#include "resources.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Every whole picture path the program's sources and forms name: each must be in the .qrc.
QStringList namedPictures()
{
    QStringList paths;
    const QRegularExpression named(QStringLiteral(":/new/prefix/[A-Za-z0-9_./-]+\\.png"));
    QDirIterator files(QStringLiteral(SOURCE_ROOT), { "*.cpp", "*.h", "*.ui" }, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (path.contains(QLatin1String("/tests/")) || path.contains(QLatin1String("/build")))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        auto matches = named.globalMatch(QString::fromUtf8(file.readAll()));
        while (matches.hasNext())
            paths << matches.next().captured();
    }
    paths.removeDuplicates();
    return paths;
}

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
        const QStringList paths = namedPictures();
        QVERIFY(paths.size() > 20);
        for (const QString& path : paths)
            QTest::newRow(qPrintable(path)) << path;
    }
    void namedPicture()
    {
        QFETCH(QString, path);
        QVERIFY2(qrcPaths().contains(path), "missing from the .qrc");
    }

    // Every picture must be sound, and sized as its folder says.
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
        const auto pair = [](const QString& folder, const QString& first, const QString& second) {
            const QString icons = QStringLiteral(":/new/prefix/Resources/Icons/") + folder + '/';
            QTest::newRow(qPrintable(first + '/' + second)) << icons + first + ".png" << icons + second + ".png";
        };
        for (const char* name :
             {"primaryOut", "secondaryOut", "remove", "pin", "warning", "power", "change", "error", "lock"})
            pair("Basic/11x11", name, name + QStringLiteral("Disabled"));
        pair("Basic/11x11", "lock", "unlock");
        pair("HardwareNetwork/16x16", "usb_connector-error", "usb_connector-ok");
        pair("HardwareNetwork/16x16", "hardware-download", "hardware-upload");
        pair("Security/16x16", "padlock", "padlock_unlock");
        pair("Basic/16x16", "info", "warning");
    }
    void statesDiffer()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        const QImage a(first);
        const QImage b(second);
        QVERIFY(!a.isNull() && !b.isNull());
        QVERIFY2(a.convertToFormat(QImage::Format_ARGB32) != b.convertToFormat(QImage::Format_ARGB32),
                 "the two states look the same");
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
