#pragma once

#include <QList>
#include <QObject>
#include <QQmlListProperty>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <memory>
#include <mutex>

// The lists that the state object shares with connection threads hold
// shared pointers: an entry removed by the main thread lives on while a
// request still holds it.
namespace SharedLists {

// Orders a release on one thread before the deletion on another. Qt's event
// queue already does, but under locks the thread sanitizer cannot see, so a
// record written on a connection thread and deleted on the main thread would
// look like a race to it.
inline std::mutex& handOverLock()
{
    static std::mutex lock;
    return lock;
}

// Entries leave the lists on any thread but are always deleted on the thread
// they belong to (the main thread), once nobody holds them.
inline void deleteLaterDeleter(QObject* object)
{
    {
        std::lock_guard<std::mutex> lock(handOverLock());
    }
    object->deleteLater();
}

// Called by the destructor of an entry that other threads create.
inline void takeHandOver()
{
    std::lock_guard<std::mutex> lock(handOverLock());
}

// The user interface sees the lists through read-only views on the main thread.
template <typename T>
int listCount(QQmlListProperty<T>* list)
{
    return static_cast<const QList<std::shared_ptr<T>>*>(list->data)->size();
}

template <typename T>
T* listAt(QQmlListProperty<T>* list, int index)
{
    return static_cast<const QList<std::shared_ptr<T>>*>(list->data)->value(index).get();
}

template <typename T>
QList<T*> rawList(const QList<std::shared_ptr<T>>& list)
{
    QList<T*> raw;
    for (const auto& entry : list)
        raw.append(entry.get());
    return raw;
}

template <typename T>
QStringList names(const QList<std::shared_ptr<T>>& list)
{
    QStringList names;
    for (const auto& entry : list)
        names.append(entry->name());
    return names;
}

// A copy that shares no buffer with the original: the main thread may then
// grow or shrink its list while another thread still holds the copy.
template <typename T>
QList<std::shared_ptr<T>> detachedCopy(const QList<std::shared_ptr<T>>& list)
{
    QList<std::shared_ptr<T>> copy;
    copy.reserve(list.size());
    for (const auto& entry : list)
        copy.append(entry);
    return copy;
}

// Discovered objects have no parent. The documents see them through properties
// only, never as the value of an invokable method, so QML never takes them over.
template <typename T>
std::shared_ptr<T> shared(T* object)
{
    return std::shared_ptr<T>(object, &deleteLaterDeleter);
}

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

} // namespace SharedLists
