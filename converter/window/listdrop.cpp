#include "converter/window/listdrop.h"

#include <QAbstractItemView>
#include <QDropEvent>
#include <QMimeData>

ListDropTarget::ListDropTarget(QAbstractItemView *list, std::function<bool()> accepting,
                               std::function<void(const FoundFiles &)> add)
    : QObject(list), m_accepting(std::move(accepting)), m_add(std::move(add))
{
    // Drags reach an item view through its viewport; both are watched so the list's own
    // item moving never sees them.
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

QStringList ListDropTarget::localPaths(const QMimeData *data)
{
    // The raw list, not QMimeData::urls(): QUrl cannot give back a name that is not UTF-8.
    static const QString UriList = QStringLiteral("text/uri-list");
    return data && data->hasFormat(UriList) ? LocalPathsFromUriList(data->data(UriList))
                                            : QStringList();
}

bool ListDropTarget::takes(const QDropEvent *event) const
{
    return m_accepting() && MayHoldAudioFiles(localPaths(event->mimeData())) &&
           (event->possibleActions() & Qt::CopyAction);
}

bool ListDropTarget::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (takes(drag)) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore(); // the cursor shows that nothing can be dropped here
        }
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!takes(drop)) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        m_add(AudioFilesFromPaths(localPaths(drop->mimeData())));
        return true;
    }
    default:
        return false;
    }
}
