#include "converter/window/batchtext.h"

#include <cmath>

namespace batchtext {

double Round2(double value)
{
    const double rounded = std::nearbyint(value * 100.0) / 100.0;
    return rounded == 0.0 ? 0.0 : rounded; // never "-0"
}

double TimeFigure(double elapsedSeconds, qint32 frame)
{
    if (frame <= 0)
        return 0.0;
    return Round2(elapsedSeconds / (double(frame) * FrameSeconds));
}

QString NumberText(double value)
{
    return QString::number(value, 'g', 15);
}

QString ProgressLine(const QString &percentText, double timeFigure)
{
    return DonePrefix + percentText + TimeSeparator + NumberText(timeFigure);
}

QString TotalCaption(const QString &fileName, qint32 bitRate)
{
    return TotalPrefix + fileName + CrLf + TotalSecondLine + QString::number(bitRate) + TotalSuffix;
}

QString CompletionMessage(bool userFolder, const QString &folder,
                          const QList<NotConverted> &notConverted, const QStringList &problems,
                          const QList<NotConverted> &notes)
{
    QString message = Congratulations + CrLf;
    message += userFolder ? UserFolderLine + folder : DefaultFolderLine;
    if (!notConverted.isEmpty())
        message += CrLf + QStringLiteral("其中%1个文件未能转换：").arg(notConverted.size());
    for (qsizetype i = 0; i < notConverted.size() && i < MaxNamedSkips; ++i)
        message += CrLf + notConverted[i].file + QStringLiteral("：") + notConverted[i].reason;
    if (notConverted.size() > MaxNamedSkips)
        message += CrLf + QStringLiteral("……等%1个").arg(notConverted.size());
    if (!notes.isEmpty())
        message += CrLf + NotesHeading;
    for (qsizetype i = 0; i < notes.size() && i < MaxNamedSkips; ++i)
        message += CrLf + notes[i].file + QStringLiteral("：") + notes[i].reason;
    if (notes.size() > MaxNamedSkips)
        message += CrLf + QStringLiteral("……等%1个").arg(notes.size());
    for (const QString &problem : problems)
        message += CrLf + QStringLiteral("出错：") + problem;
    return message;
}

QString NotificationBody(const QString &completionMessage, const BatchReport &report)
{
    const int notConverted = int(report.notConverted().size());
    const int skipped = int(report.skipped().size());
    QString counts = QStringLiteral("共%1个文件，已转换%2个")
                         .arg(report.total())
                         .arg(report.total() - notConverted - skipped);
    if (skipped > 0)
        counts += QStringLiteral("，跳过%1个").arg(skipped);
    if (notConverted > 0)
        counts += QStringLiteral("，未转换%1个").arg(notConverted);
    return completionMessage.section(CrLf, 0, 0) + u'\n' + counts;
}

} // namespace batchtext
