#pragma once

// The statements and data sets linked to a connection or a transaction.

#include <QList>

#include <functional>

class TIBBase;

class TIBLinkList {
public:
    // The link's position; a link already listed keeps its own.
    int Add(TIBBase *Link)
    {
        qsizetype i = FLinks.indexOf(Link);
        if (i < 0) {
            FLinks.append(Link);
            i = FLinks.size() - 1;
        }
        return int(i);
    }
    void Remove(TIBBase *Link) { FLinks.removeAll(Link); }
    void Clear() { FLinks.clear(); }
    int Count() const { return int(FLinks.size()); }
    TIBBase *At(int Index) const { return FLinks[Index]; }
    const QList<TIBBase *> &Links() const { return FLinks; }

    // Calls Notify for every link of the list as it was, skipping links a
    // previous call took off the list.
    void ForEach(const std::function<void(TIBBase *)> &Notify) const
    {
        const QList<TIBBase *> snapshot = FLinks;
        for (TIBBase *link : snapshot)
            if (FLinks.contains(link))
                Notify(link);
    }

private:
    QList<TIBBase *> FLinks;
};
