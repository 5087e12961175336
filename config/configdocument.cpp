#include "configdocument.h"
#include "configreader.h"

#include <QFile>
#include <QSaveFile>

ConfigDocument::ConfigDocument(const QString& path)
    : path(path)
{
}

bool ConfigDocument::save()
{
    std::string text;
    root.writeNode(text, -1);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

ConfigDocument::LoadResult ConfigDocument::load()
{
    root.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LoadResult::CannotOpen;
    // The size on disk is not trusted (a device or a pipe has none): the limit is counted while
    // reading, and the text is parsed only when the whole file fits.
    std::string text;
    char block[16384];
    for (;;) {
        const qint64 n = file.read(block, sizeof block);
        if (n < 0)
            return LoadResult::CannotOpen;
        if (n == 0)
            break;
        if (qint64(text.size()) + n > maxFileSize)
            return LoadResult::TooLarge;
        text.append(block, std::size_t(n));
    }
    ConfigReader::parse(root, text.data(), text.size());
    return LoadResult::Loaded;
}
