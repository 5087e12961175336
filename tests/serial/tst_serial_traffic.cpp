#include "dialogtraffic.h"
#include "framerenderer.h"
#include "resources.h"

#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {

QString span(const char* style, const QString& text)
{
    return QString("<span style=\" %1;\">%2</span>").arg(style, text);
}
QString red(const QString& t) { return span("color:#FF0000", t); }
QString green(const QString& t) { return span("color:#005500", t); }
QString blue(const QString& t) { return span("color:#0000FF", t); }
QString grey(const QString& t) { return span("color:#808080", t); }
QString olive(const QString& t) { return span("color:#808000", t); }
QString yellow(const QString& t) { return span("color:#FFFF00", t); }
QString bold(const QString& t) { return span("font-weight:600", t); }
QString f(const QString& t) { return "[" + t + "] "; }
QString shortAddress(const QString& a) { return "[" + blue(a) + QString("&nbsp;").repeated(12) + "] "; }

QString icon(const char* path) { return QString("<img src=\":/new/prefix/Resources/Icons/%1.png\"/> ").arg(path); }
QString up(const QString& body) { return icon("HardwareNetwork/16x16/hardware-upload") + body + "<br>"; }
QString down(const QString& body) { return icon("HardwareNetwork/16x16/hardware-download") + body + "<br>"; }
QString err(const QString& body) { return icon("Basic/16x16/delete_button_error") + body + "<br>"; }
QString warn(const QString& body)
{
    return icon("Basic/16x16/warning") + span("text-decoration: line-through", body) + "<br>";
}

// Where the frame starts: after the first run of 0xFF, or past the end when there is none.
int afterPreamble(const QByteArray& bytes)
{
    int i = bytes.indexOf('\xFF');
    while (i >= 0 && i < bytes.size() && bytes[i] == '\xFF')
        ++i;
    return i < 0 ? bytes.size() : i;
}

// Appends the exclusive OR of every byte of the frame, as the sender does.
QByteArray framed(const char* hex)
{
    QByteArray bytes = QByteArray::fromHex(hex);
    char x = 0;
    for (int i = afterPreamble(bytes); i < bytes.size(); ++i)
        x ^= bytes[i];
    return bytes.append(x);
}

// Renders from a heap block of exactly the given size, so AddressSanitizer sees any overread.
QString renderExact(const QByteArray& bytes, uint result, bool outgoing)
{
    std::unique_ptr<std::uint8_t[]> exact(bytes.isEmpty() ? nullptr : new std::uint8_t[bytes.size()]);
    if (exact)
        memcpy(exact.get(), bytes.constData(), bytes.size());
    return renderFrame(exact.get(), std::uint32_t(bytes.size()), result, outgoing);
}

QString shortHead(const char* delimiter, const char* command)
{
    return f(green(delimiter)) + shortAddress("00") + f(olive(command));
}
QString longHead(const char* delimiter, const char* command)
{
    return f(green(delimiter)) + f(blue("BF 04 0A 0B 0C")) + f(olive(command));
}

// The monitor's text without its icons.
QString plain(const QTextEdit* text)
{
    return text->toPlainText().remove(QChar::ObjectReplacementCharacter);
}

} // namespace

class TestSerialTraffic : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }

    void render_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<uint>("result");
        QTest::addColumn<bool>("outgoing");
        QTest::addColumn<QString>("line");
        const auto row = [](const char* name, const QByteArray& bytes, uint result, const QString& line) {
            QTest::newRow(name) << bytes << result << line.contains("font-weight:600") << line; // sent: bold
        };
        const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
        const QString rsp0 = longHead("86", "0D");
        row("empty block", {}, 55, warn(grey("")));
        row("no FF", hex("1234000A"), 55, warn(grey("12 34 00 0A ")));
        row("noise ending in preamble", hex("1234FFFF"), 55, warn(grey("12 34 FF FF ")));
        row("delimiter after the first run", hex("12FF34FFFF"), 55, err("34 FF " + red("FF ")));
        row("noise, one FF, frame, trailing bytes", framed("1234FF 06 00 00 02 00 10") + "\xAA\xBB", 0,
            down(shortHead("06", "00") + f(green("02")) + f(green("00") + " 10") + green("14 ")));
        row("wrong check byte", hex("FFFF0600000200107F"), 55, err("06 00 00 02 00 10 " + red("7F ")));
        row("sent, wrong check byte", hex("FF02000001"), 0, err(bold("02 00 00 " + red("01 "))));
        row("lone delimiter", hex("FF02"), 55, err(" " + red("02 ")));
        row("zero after preamble", hex("FF00"), 55, err(red(" ??? ") + green("00 ")));
        row("byte count too large", framed("FF 06 00 00 03 00 10"), 55,
            err(shortHead("06", "00") + f(red("03")) + "00 10 " + green("15 ")));
        row("delimiter 01", framed("FF 01 00 00 00"), 55, err(f(red("01")) + "00 00 00 " + green("01 ")));
        row("long request", framed("FF 82 BF 04 0A 0B 0C 0D 00"), 0,
            up(bold(longHead("82", "0D") + f(green("00")) + green("39 "))));
        row("expansion byte", framed("FF 22 00 AA 00 00"), 0,
            up(bold(f(green("22")) + shortAddress("00") + f("AA") + f(olive("00")) + f(green("00")) + green("88 "))));
        row("response code 0", framed("FF 86 BF 04 0A 0B 0C 0D 04 00 10 41 42"), 0,
            down(rsp0 + f(green("04")) + "[" + green("00") + " 10] " + f("41 42") + green("2A ")));
        row("response code 8, accepted", framed("FF 86 BF 04 0A 0B 0C 0D 04 08 10 41 42"), 54,
            down(rsp0 + f(green("04")) + "[" + yellow("08") + " 10] " + f("41 42") + green("22 ")));
        row("response code 5, error", framed("FF 86 BF 04 0A 0B 0C 0D 04 05 10 41 42"), 18,
            err(rsp0 + f(green("04")) + "[" + red("05") + " 10] 41 42 " + green("2F ")));
        row("communication error", framed("FF 86 BF 04 0A 0B 0C 0D 02 82 00"), 47,
            err(rsp0 + f(green("02")) + "[" + red("82") + " 00]  " + green("BD ")));
        row("response ignored", framed("FF 86 BF 04 0A 0B 0C 0D 02 00 00"), 55,
            warn(rsp0 + f(green("02")) + "[" + green("00") + " 00] " + green("3F ")));
        row("command 31, number 0x00FF", framed("FF 82 BF 04 0A 0B 0C 1F 03 00 FF 07"), 0,
            err(bold(longHead("82", "1F") + f(green("03")) + f(red("00 FF")) + "07 " + green("D0 "))));
        row("command 31, number 0x0100", framed("FF 86 BF 04 0A 0B 0C 1F 05 00 00 01 00 07"), 0,
            down(longHead("86", "1F") + f(green("05")) + "[" + green("00") + " 00] " + f(olive("01 00")) + f("07")
                 + green("2C ")));
        row("ends in long address", framed("FF 82 BF 04"), 0, err(bold(f(green("82")) + red("BF 04 ??? ") + green("39 "))));
        row("ends after short address", framed("FF 02 00"), 0,
            err(bold(f(green("02")) + shortAddress("00") + red(" ??? ") + green("02 "))));
        row("ends in expansion bytes", framed("FF 42 00 AA"), 0,
            err(bold(f(green("42")) + shortAddress("00") + red("AA ??? ") + green("E8 "))));
        row("ends in extended number", framed("FF 82 BF 04 0A 0B 0C 1F 01 01"), 0,
            err(bold(longHead("82", "1F") + f(green("01")) + red("01 ??? ") + green("2B "))));
    }
    void render()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(uint, result);
        QFETCH(bool, outgoing);
        QFETCH(QString, line);
        QCOMPARE(renderExact(bytes, result, outgoing), line);
    }

    // Every cut of a long response is a fault (or, within the preamble, a grey line), never a frame.
    void everyTruncation()
    {
        const QByteArray whole = framed("FFFFFFFF 86 BF 04 0A 0B 0C 1F 1C 00 10 01 00 "
                                        "00112233445566778899AABBCCDDEEFF0011223344556677");
        QVERIFY(renderExact(whole, 0, false).startsWith(icon("HardwareNetwork/16x16/hardware-download")));
        for (int n = 0; n < whole.size(); ++n) {
            const QString line = renderExact(whole.left(n), 0, false);
            if (n <= 4)
                QCOMPARE(line, down(grey(QString("FF ").repeated(n))));
            else
                QVERIFY2(line.startsWith(icon("Basic/16x16/delete_button_error")), qPrintable(QString::number(n)));
        }
    }

    // Blocks as the line may bring them; most start like a frame so the deeper fields are reached.
    // The bytes shown must be the block's own, from the delimiter on, in order.
    void randomBlocks()
    {
        QRandomGenerator random(20261206);
        const QRegularExpression tags("<[^>]*>|&nbsp;|\\[|\\]|\\?\\?\\?");
        for (int round = 0; round < 20000; ++round) {
            QByteArray block(int(random.bounded(257)), '\0');
            for (char& c : block)
                c = char(random.bounded(256));
            if (round % 2 && block.size() > 3) {
                block[0] = '\xFF';
                block[1] = "\x02\x06\x82\x86\x22\xC6"[random.bounded(6)];
                if (round % 4 == 1 && block.size() > 8)
                    block[block.size() - 1] = framed(block.left(block.size() - 1).toHex()).back();
            }
            const uint result = random.bounded(57);
            const QString line = renderExact(block, result, round % 3 == 0);
            QVERIFY(line.endsWith("<br>"));
            QCOMPARE(line.count("<span"), line.count("</span>"));
            const QByteArray shown = QByteArray::fromHex(QString(line).remove(tags).toLatin1());
            const int start = afterPreamble(block);
            const QByteArray expected = start >= block.size() ? block : block.mid(start, shown.size());
            QVERIFY2(shown == expected, block.toHex(' ').constData());
        }
    }

    void hiddenMonitorDropsLines()
    {
        DialogTraffic dialog;
        auto* text = dialog.findChild<QTextEdit*>("textEdit");
        QVERIFY(text->isReadOnly());
        dialog.appendHtml(down("x"));
        QVERIFY(text->document()->isEmpty());
        dialog.show();
        dialog.appendHtml(down("first"));
        dialog.hide();
        dialog.appendHtml(down("second"));
        QCOMPARE(plain(text), QString(" first\n"));
        dialog.show();
        QVERIFY(text->document()->isEmpty());
        dialog.appendHtml(down("third"));
        dialog.findChild<QPushButton*>("clear")->click();
        QVERIFY(text->document()->isEmpty());
    }

    // Lines gather until the HTML passes 65535 characters; the next line then starts afresh.
    void documentIsBounded()
    {
        DialogTraffic dialog;
        auto* text = dialog.findChild<QTextEdit*>("textEdit");
        dialog.show();
        const QByteArray frame = framed("FF 86 BF 04 0A 0B 0C 0D 04 00 10 41 42");
        int lines = 0;
        bool cleared = false;
        for (int i = 0; i < 2000 && !cleared; ++i) {
            const bool over = text->toHtml().size() > 65535;
            dialog.appendHtml(renderFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                                          std::uint32_t(frame.size()), 0, i % 2));
            lines = over ? 1 : lines + 1;
            cleared = over;
            QCOMPARE(text->toPlainText().count("BF 04 0A"), lines);
        }
        QVERIFY(cleared);
    }

    void viewFollowsNewestLine()
    {
        DialogTraffic dialog;
        auto* text = dialog.findChild<QTextEdit*>("textEdit");
        dialog.show();
        for (int i = 0; i < 100; ++i)
            dialog.appendHtml(down(QString::number(i)));
        // The user clicks near the top; the next line still goes to the bottom, and into view.
        text->moveCursor(QTextCursor::Start);
        dialog.appendHtml(down("newest"));
        QVERIFY(plain(text).endsWith(" 99\n newest\n"));
        QVERIFY(text->verticalScrollBar()->maximum() > 0);
        const QRect newest = text->cursorRect(text->document()->find("newest"));
        QVERIFY(text->viewport()->rect().contains(newest));
    }
};

QTEST_MAIN(TestSerialTraffic)
#include "tst_serial_traffic.moc"
