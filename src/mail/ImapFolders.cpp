#include "mail/ImapFolders.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vc {

QString specialUseOf(const QStringList &attributes)
{
    static const char *const uses[] = {"\\All",  "\\Archive", "\\Drafts", "\\Flagged",
                                       "\\Junk", "\\Sent",    "\\Trash",  "\\Important"};
    for (const QString &a : attributes) {
        for (const char *use : uses) {
            if (a.compare(QLatin1String(use), Qt::CaseInsensitive) == 0)
                return QLatin1String(use);
        }
    }
    return {};
}

namespace {

// Edits (insert, delete, replace, swap two neighbours) that turn a into b.
int editDistance(const QString &a, const QString &b)
{
    const qsizetype n = a.size();
    const qsizetype m = b.size();
    std::vector<int> prev2(size_t(m + 1)), prev(size_t(m + 1)), cur(size_t(m + 1));
    for (qsizetype j = 0; j <= m; ++j)
        prev[size_t(j)] = int(j);
    for (qsizetype i = 1; i <= n; ++i) {
        cur[0] = int(i);
        for (qsizetype j = 1; j <= m; ++j) {
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int d = std::min({prev[size_t(j)] + 1, cur[size_t(j - 1)] + 1, prev[size_t(j - 1)] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d = std::min(d, prev2[size_t(j - 2)] + 1);
            cur[size_t(j)] = d;
        }
        std::swap(prev2, prev);
        std::swap(prev, cur);
    }
    return prev[size_t(m)];
}

QString lastPart(const QString &name)
{
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('.')));
    return cut < 0 ? name : name.mid(cut + 1);
}

struct Near {
    int rank = 0;      // 0 same name, 1 same last part, 2 one starts like the other, 3 typing slips
    int distance = 0;  // edits between the names
    qsizetype index = 0;
};

std::optional<Near> nearness(const QString &wanted, const QString &name, qsizetype index)
{
    const QString w = wanted.toCaseFolded();
    const QString n = name.toCaseFolded();
    if (w.isEmpty() || n.isEmpty())
        return std::nullopt;
    Near near;
    near.index = index;
    near.distance = editDistance(w, n);
    const QString part = lastPart(n);
    const int slips = std::max<int>(1, int(w.size()) / 3);
    if (w == n)
        near.rank = 0;
    else if (part == w || lastPart(w) == n)
        near.rank = 1;
    else if ((w.size() >= 2 && n.startsWith(w)) || (n.size() >= 2 && w.startsWith(n))
             || (w.size() >= 2 && part.startsWith(w)))
        near.rank = 2;
    else if (near.distance <= slips || editDistance(w, part) <= slips)
        near.rank = 3;
    else
        return std::nullopt;
    return near;
}

QString listed(const QStringList &names, qsizetype more)
{
    if (more > 0)
        return names.join(QStringLiteral(", ")) + QStringLiteral(" and %1 more").arg(more);
    if (names.size() == 1)
        return names.first();
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
}

}  // namespace

QStringList nearestFolderNames(const QString &wanted, const QStringList &existing, int most)
{
    std::vector<Near> near;
    for (qsizetype i = 0; i < existing.size(); ++i) {
        if (const std::optional<Near> n = nearness(wanted, existing[i], i))
            near.push_back(*n);
    }
    std::stable_sort(near.begin(), near.end(), [](const Near &a, const Near &b) {
        return a.rank != b.rank ? a.rank < b.rank : a.distance < b.distance;
    });
    QStringList out;
    for (const Near &n : near) {
        if (out.size() >= most)
            break;
        out << existing[n.index];
    }
    return out;
}

QString noSuchFolderText(const QString &wanted, const QStringList &existing, int most)
{
    const QString start = QStringLiteral("There is no folder %1 on this server; ").arg(wanted);
    QStringList names;
    for (const QString &n : existing) {
        if (!n.isEmpty() && !names.contains(n))
            names << n;
    }
    if (names.isEmpty())
        return start + QStringLiteral("it has no folders.");
    QStringList shown = nearestFolderNames(wanted, names, most);
    for (const QString &n : std::as_const(names)) {
        if (shown.size() >= most)
            break;
        if (!shown.contains(n))
            shown << n;
    }
    return start + QStringLiteral("it has ") + listed(shown, names.size() - shown.size()) + QLatin1Char('.');
}

}  // namespace vc
