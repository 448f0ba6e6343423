#include "converter/dialogs/dialogdetails.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMimeDatabase>
#include <QSettings>
#include <QTreeView>

namespace {

enum Column
{
    NameColumn,
    SizeColumn,
    TypeColumn,
    DateColumn
};

// The model formats dates with the system locale and takes types from Qt's icon provider and
// the locale's MIME comments; the proxy gives those cells from the file's own facts, so the
// view and screen readers both get them in Chinese.
class ChineseDetails final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() == NameColumn)
            return QIdentityProxyModel::data(index, role);
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        const QFileInfo info = files->fileInfo(mapToSource(index));
        switch (index.column()) {
        case SizeColumn:
            return info.isDir() ? QString() : chinese.formattedDataSize(info.size());
        case TypeColumn: {
            if (info.isDir())
                return QStringLiteral("文件夹");
            const QMimeType type = QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
            if (!type.isDefault() && !type.comment().isEmpty())
                return type.comment();
            return info.suffix().isEmpty() ? QStringLiteral("文件")
                                           : QStringLiteral("%1 文件").arg(info.suffix().toUpper());
        }
        case DateColumn:
            return chinese.toString(info.lastModified(), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }
};

} // namespace

void ShowDetailsInChinese(QFileDialog &dialog)
{
    dialog.setProxyModel(new ChineseDetails(&dialog));
    if (auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = details->header();
        header->setSectionResizeMode(SizeColumn, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(DateColumn, QHeaderView::ResizeToContents);
    }
}

void KeepNoSettings()
{
    // Below a file nothing can be made, not even by root: reading finds nothing, writing fails
    // quietly.
    const QString nowhere = QStringLiteral("/dev/null/batchmp3");
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, nowhere);
}
