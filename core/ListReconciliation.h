#pragma once

#include <QList>
#include <QVector>

#include <algorithm>
#include <memory>

// The list that follows a discovery result: entries that are still reported
// stay (same object, same place), new results are appended in result order
// when create() gives an entry for them, and vanished entries are dropped.
template <typename Entry, typename Result, typename Matches, typename Create>
QList<std::shared_ptr<Entry>> reconciled(const QList<std::shared_ptr<Entry>>& current, const QList<Result>& results,
                                         Matches matches, Create create)
{
    QVector<bool> isNew(results.size(), true);
    QList<int> vanished;
    for (int i = 0; i < current.size(); ++i) {
        const Entry& entry = *current.at(i);
        const auto found = std::find_if(results.cbegin(), results.cend(),
                                        [&](const Result& result) { return matches(entry, result); });
        if (found != results.cend())
            isNew[int(found - results.cbegin())] = false;
        else
            vanished.append(i);
    }

    QList<std::shared_ptr<Entry>> next = current;
    for (int j = 0; j < results.size(); ++j) {
        if (!isNew.at(j))
            continue;
        if (std::shared_ptr<Entry> created = create(results.at(j)))
            next.append(std::move(created));
    }
    for (int k = vanished.size() - 1; k >= 0; --k)
        next.removeAt(vanished.at(k));
    return next;
}
