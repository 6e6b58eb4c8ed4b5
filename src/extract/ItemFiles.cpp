#include "extract/ItemFiles.h"

#include "core/AppError.h"

#include <QFile>
#include <QFileInfo>

namespace vc {

QStringList splitItemLines(const QString &text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        items.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        items.append(text.mid(start));
    return items;
}

QStringList readItemFile(const QString &path)
{
    QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir())
        raise(err::FileNotFound);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        raise(err::PathFileAccess);
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        raise(err::PathFileAccess);
    return splitItemLines(QString::fromLocal8Bit(bytes));
}

}  // namespace vc
