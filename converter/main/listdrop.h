#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QAbstractItemView;
class QDropEvent;

// Lets a list take WAV files and folders dropped from a file manager. Always a copy: a file
// manager must never delete what it offered as a move. Refused while `accepting` says no.
class ListDropTarget : public QObject
{
    Q_OBJECT
public:
    ListDropTarget(QAbstractItemView *list, std::function<bool()> accepting,
                   std::function<void(const QStringList &)> add);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool takes(const QDropEvent *event) const;

    std::function<bool()> m_accepting;
    std::function<void(const QStringList &)> m_add;
};
