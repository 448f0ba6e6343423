#pragma once

#include "converter/files/audiofiles.h"

#include <QObject>
#include <QStringList>
#include <functional>

class QAbstractItemView;
class QDropEvent;
class QMimeData;

// Lets a list take audio files and folders dropped from a file manager. Always a copy: a file
// manager must never delete what it offered as a move. Refused while `accepting` says no.
class ListDropTarget : public QObject
{
    Q_OBJECT
public:
    ListDropTarget(QAbstractItemView *list, std::function<bool()> accepting,
                   std::function<void(const FoundFiles &)> add);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool takes(const QDropEvent *event) const;
    static QStringList localPaths(const QMimeData *data);

    std::function<bool()> m_accepting;
    std::function<void(const FoundFiles &)> m_add;
};
