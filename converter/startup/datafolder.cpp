#include "converter/startup/datafolder.h"

#include "runtime/systemfolder.h"

#include <QDir>
#include <cerrno>
#include <cstring>

namespace {

const QString DataFolderText = QStringLiteral("无法创建或写入程序的数据文件夹：\n%1\n原因：%2");

QString reasonText(int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
        return QStringLiteral("没有权限");
    case EPERM:
        return QStringLiteral("文件夹属于其他用户");
    case ENOENT:
        return QStringLiteral("没有这个文件夹");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

} // namespace

QString DataFolderMessage(const rt::FolderProblem &problem)
{
    return DataFolderText.arg(QDir::toNativeSeparators(problem.folder),
                              reasonText(problem.errorNumber));
}
