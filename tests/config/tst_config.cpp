#include "configdocument.h"
#include "configreader.h"
#include "programfile.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

namespace {

// A tree as one line: name=[value] with the type's letter (s, i, r), children in braces.
QString dump(const ConfigNode& node)
{
    QStringList parts;
    if (!node.children())
        return QString();
    for (const auto& child : *node.children()) {
        QString text = QString::fromStdString(child->name());
        const std::string value = child->stringValue();
        if (!value.empty() || child->type() != ConfigValueType::String)
            text += QStringLiteral("=[") + QString::fromStdString(value) + ']'
                + QStringLiteral("sir").at(int(child->type()));
        if (child->children())
            text += '{' + dump(*child) + '}';
        parts << text;
    }
    return parts.join(';');
}

QString parsed(const QByteArray& text)
{
    ConfigNode root;
    ConfigReader::parse(root, text.constData(), std::size_t(text.size()));
    return dump(root);
}

QByteArray written(const ConfigNode& root)
{
    std::string out;
    root.writeNode(out, -1);
    return QByteArray::fromStdString(out);
}

const QByteArray internalName = QByteArray("ИПП-93кт-Hart");
const QByteArray ownFile = "app=\"" + internalName + "\"\r\nversion=2\r\n";

int depthOf(const ConfigNode& node)
{
    int depth = 0;
    for (const ConfigNode* n = &node; n->children() && !n->children()->empty(); n = n->children()->front().get())
        ++depth;
    return depth;
}

}

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void readerRules_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("tree");
        QTest::newRow("blanks around name and =") << QByteArray("  version = 2  \r\n") << "version=[2]i";
        QTest::newRow("quoted keeps blanks") << QByteArray("a=\" x  y \"") << "a=[ x  y ]s";
        QTest::newRow("bare drops trailing blanks only") << QByteArray("a= x  y \t \n") << "a=[x  y]s";
        QTest::newRow("real") << QByteArray("a=1.5\nb=-.5e3") << "a=[1.5]r;b=[-.5e3]r";
        QTest::newRow("integer, signed") << QByteArray("a=12\nb=-7\nc=+3") << "a=[12]i;b=[-7]i;c=[+3]i";
        QTest::newRow("not numbers") << QByteArray("a=12a\nb=\"12\"\nc=inf\nd=0x10\ne=1..2")
                                     << "a=[12a]s;b=[12]s;c=[inf]s;d=[0x10]s;e=[1..2]s";
        QTest::newRow("too long for 64 bits is real") << QByteArray("a=99999999999999999999") << "a=[99999999999999999999]r";
        QTest::newRow("name only") << QByteArray("name\r\n") << "name";
        QTest::newRow("= in the value") << QByteArray("a=b=c") << "a=[b=c]s";
        QTest::newRow("quoted name") << QByteArray("\"my name\" = 1") << "my name=[1]i";
        QTest::newRow("group") << QByteArray("<g>\r\n\ta=1\r\n</>\r\nb=2\r\n") << "g{a=[1]i};b=[2]i";
        QTest::newRow("entry after > on the tag line") << QByteArray("<g> a=1\n</>") << "g{a=[1]i}";
        QTest::newRow("any closing tag") << QByteArray("<g>\na=1\n</anything>\nb=2") << "g{a=[1]i};b=[2]i";
        QTest::newRow("nested groups") << QByteArray("<a>\n<b>\nx\n</>\ny\n</>\nz") << "a{b{x};y};z";
        QTest::newRow("empty group") << QByteArray("<g>\n</>") << "g{}";
        QTest::newRow("unclosed group takes the rest") << QByteArray("<g>\na=1\nb=2") << "g{a=[1]i;b=[2]i}";
        QTest::newRow("stray closing tag ends the file") << QByteArray("a=1\n</>\nb=2") << "a=[1]i";
        QTest::newRow("backslash quote at the end") << QByteArray("a=a\\\"") << "a=[a\"]s";
        QTest::newRow("backslash keeps = and backslash") << QByteArray("a\\=b=c\\\\d") << "a=b=[c\\d]s";
        QTest::newRow("escaped blank is significant") << QByteArray("a=x\\ \n") << "a=[x ]s";
        QTest::newRow("escaped line end") << QByteArray("a=x\\\ny") << "a=[x\ny]s";
        QTest::newRow("backslash at the end of the file") << QByteArray("a=b\\") << "a=[b]s";
        QTest::newRow("line break inside quotes") << QByteArray("a=\"x\r\ny\"") << "a=[x\r\ny]s";
        QTest::newRow("CR, LF, CRLF, LFCR, blank lines")
            << QByteArray("a=1\rb=2\nc=3\r\nd=4\n\re=5\r\n\r\n\n\nf=6") << "a=[1]i;b=[2]i;c=[3]i;d=[4]i;e=[5]i;f=[6]i";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("blanks and line ends only") << QByteArray(" \t\r\n \n") << "";
    }
    void readerRules()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, tree);
        QCOMPARE(parsed(text), tree);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("quote and backslash in a value") << QByteArray("k") << QByteArray("say \"hi\" \\ bye");
        QTest::newRow("value ending in a backslash") << QByteArray("k") << QByteArray("C:\\dir\\");
        QTest::newRow("line breaks and blanks in a value") << QByteArray("k") << QByteArray(" a\r\nb ");
        QTest::newRow("structure in a name") << QByteArray("<a=b> \"c\"\\ ") << QByteArray("v");
        QTest::newRow("non-UTF-8 bytes") << QByteArray("\xff\xfe") << QByteArray("\x80\x00\x01", 3);
    }
    void roundTrip()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        ConfigNode root;
        ConfigNode* entry = root.addChild(name.toStdString());
        entry->setString(value.toStdString());
        root.addChild("")->addChild("inner")->setInteger(-5); // a group without a name keeps its level
        const QByteArray text = written(root);
        ConfigNode back;
        ConfigReader::parse(back, text.constData(), std::size_t(text.size()));
        QCOMPARE(dump(back), dump(root));
        QCOMPARE(back.children()->front()->stringValue(), value.toStdString());
        QCOMPARE(written(back), text);
    }

    void writerLayout()
    {
        ConfigNode root;
        root.addChild("app")->setString(internalName.toStdString());
        root.addChild("version")->setInteger(2);
        QCOMPARE(written(root), ownFile);

        ConfigNode tree;
        ConfigNode* outer = tree.addChild("outer");
        outer->addChild("x")->setInteger(1);
        ConfigNode* inner = outer->addChild("inner");
        inner->makeGroup();
        outer->addChild("flag");
        tree.addChild("");
        QCOMPARE(written(tree), QByteArray("<outer>\r\n\tx=1\r\n\t<inner>\r\n\t</>\r\n\tflag\r\n</>\r\n"));

        // A file that cannot be written is reported, and an existing one is left as it was.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.cfg")));
        ConfigDocument blocked(dir.filePath(QStringLiteral("taken.cfg")));
        blocked.addChild("a");
        QVERIFY(!blocked.save());
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("taken.cfg"))).isDir());
    }

    void integerValue_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("number");
        QTest::newRow("blanks, sign, trailing text") << QByteArray(" \t-12x5") << qint64(-12);
        QTest::newRow("no digit first") << QByteArray("v2") << qint64(0);
        QTest::newRow("beyond 32 bits") << QByteArray("4294967298") << qint64(4294967298LL);
        QTest::newRow("saturates high") << QByteArray("99999999999999999999") << std::numeric_limits<qint64>::max();
        QTest::newRow("saturates low") << QByteArray("-99999999999999999999") << std::numeric_limits<qint64>::min();
        QTest::newRow("lowest") << QByteArray("-9223372036854775808") << std::numeric_limits<qint64>::min();
    }
    void integerValue()
    {
        QFETCH(QByteArray, value);
        QFETCH(qint64, number);
        ConfigNode node;
        node.setString(value.toStdString());
        QCOMPARE(qint64(node.integerValue()), number);
    }

    void deepNestingIsBounded()
    {
        // A million opening tags: no stack is spent per level, and the levels beyond the bound are
        // dropped with what is in them.
        QByteArray text;
        for (int i = 0; i < 1000000; ++i)
            text += "<a>";
        text += "lost\n";
        ConfigNode root;
        ConfigReader::parse(root, text.constData(), std::size_t(text.size()));
        QCOMPARE(depthOf(root), int(ConfigReader::maxDepth));

        // Closing tags still pair up beyond the bound, so what follows lands where it belongs.
        QByteArray balanced;
        for (int i = 0; i < 100; ++i)
            balanced += "<a>\n";
        balanced += "deep\n";
        for (int i = 0; i < 100; ++i)
            balanced += "</>\n";
        balanced += "after=1\n";
        ConfigNode second;
        ConfigReader::parse(second, balanced.constData(), std::size_t(balanced.size()));
        QCOMPARE(second.children()->size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(second.children()->back()->name()), QStringLiteral("after"));
    }

    void programFileCheck_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("check");
        const int ok = int(ProgramFile::Check::Accepted);
        const int wrong = int(ProgramFile::Check::WrongFormat);
        const int newer = int(ProgramFile::Check::NewerVersion);
        const QByteArray app = "app=\"" + internalName + "\"\n";
        QTest::newRow("own file") << ownFile << ok;
        QTest::newRow("older") << app + "version=1" << ok;
        QTest::newRow("newer") << app + "version=3" << newer;
        QTest::newRow("quoted equal") << app + "version=\"2\"" << ok;
        QTest::newRow("quoted newer") << app + "version=\"3\"" << newer;
        QTest::newRow("low 32 bits look older") << app + "version=4294967298" << newer;
        QTest::newRow("no version") << app << newer;
        QTest::newRow("no app") << QByteArray("version=2") << wrong;
        QTest::newRow("another program") << QByteArray("app=\"Other\"\nversion=2") << wrong;
        QTest::newRow("app inside a group") << "<g>\n" + app + "version=2\n</>" << wrong;
        QTest::newRow("binary") << QByteArray("\x00\x01\xff<\"\\\r\x7f=>", 11) << wrong;
    }
    void programFileCheck()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, check);
        QTemporaryDir dir;
        ConfigDocument document(writeFile(dir, QStringLiteral("file.cfg"), text));
        QCOMPARE(document.load(), ConfigDocument::LoadResult::Loaded);
        QCOMPARE(int(ProgramFile::check(document, internalName, 2)), check);
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("result");
        QTest::newRow("missing") << "missing" << int(ConfigDocument::LoadResult::CannotOpen);
        QTest::newRow("a directory") << "directory" << int(ConfigDocument::LoadResult::CannotOpen);
        QTest::newRow("just over the bound") << "over" << int(ConfigDocument::LoadResult::TooLarge);
        QTest::newRow("endless device") << "/dev/zero" << int(ConfigDocument::LoadResult::TooLarge);
    }
    void hostileFiles()
    {
        QFETCH(QString, kind);
        QFETCH(int, result);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("file.cfg"));
        if (kind == QLatin1String("directory")) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("file.cfg")));
        } else if (kind == QLatin1String("over")) {
            QVERIFY(QFile(writeFile(dir, QStringLiteral("file.cfg"), ownFile)).resize(ConfigDocument::maxFileSize + 1));
        } else if (kind.startsWith('/')) {
            path = kind;
        }
        ConfigDocument document(path);
        QCOMPARE(int(document.load()), result);
        QVERIFY(!document.tree().children());
        QCOMPARE(int(ProgramFile::check(document, internalName, 2)), int(ProgramFile::Check::WrongFormat));
    }
};

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
