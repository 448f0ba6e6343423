#include "converter/console/jsonformatter.h"

#include "converter/batch/batchengine.h"

namespace {

// Progress lines of a file at most this often (the first and each whole step past it).
constexpr qint64 ProgressMilliseconds = 250;

QString number(qint64 value)
{
    return QString::number(value);
}

QString list(const QList<NotConverted> &files)
{
    QStringList items;
    for (const NotConverted &file : files)
        items.append(QStringLiteral("{\"file\":") + JsonFormatter::quoted(file.file) +
                     QStringLiteral(",\"reason\":") + JsonFormatter::quoted(file.reason) + u'}');
    return u'[' + items.join(u',') + u']';
}

QString outcomeName(FileOutcome::Kind kind)
{
    switch (kind) {
    case FileOutcome::Converted:
        return QStringLiteral("converted");
    case FileOutcome::Skipped:
        return QStringLiteral("skipped");
    case FileOutcome::NotConverted:
        return QStringLiteral("not_converted");
    case FileOutcome::Interrupted:
        return QStringLiteral("interrupted");
    case FileOutcome::NotStarted:
        break;
    }
    return QStringLiteral("not_started");
}

} // namespace

JsonFormatter::JsonFormatter(BatchEngine &engine, ConsoleOutput &output)
    : m_engine(engine), m_output(output)
{}

QString JsonFormatter::quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        const bool pair =
            c.isHighSurrogate() && k + 1 < text.size() && text[k + 1].isLowSurrogate();
        if (pair) {
            out += c;
            out += text[++k];
        } else if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c.unicode() < 0x20 || c.isSurrogate() || c.unicode() == 0x2028 ||
                   c.unicode() == 0x2029) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + u'"';
}

void JsonFormatter::line(const QString &event, const Fields &fields)
{
    QString text = QStringLiteral("{\"event\":") + quoted(event);
    for (const auto &[name, value] : fields)
        text += u',' + quoted(name) + u':' + value;
    m_output.say(ConsoleOutput::Out, text + QStringLiteral("}\n"));
}

void JsonFormatter::planned()
{
    line(QStringLiteral("planned"), {{QStringLiteral("count"), number(m_engine.count())}});
}

void JsonFormatter::fileStarted(int position)
{
    m_lastPercent = -1;
    m_sinceProgress.invalidate();
    line(QStringLiteral("start"),
         {{QStringLiteral("index"), number(position)},
          {QStringLiteral("input"), quoted(m_engine.file(position).label())},
          {QStringLiteral("output"), quoted(m_engine.outputOf(position))}});
}

void JsonFormatter::progress(int position, qint32 percent)
{
    if (percent == m_lastPercent ||
        (m_sinceProgress.isValid() && m_sinceProgress.elapsed() < ProgressMilliseconds))
        return;
    m_lastPercent = percent;
    m_sinceProgress.start();
    line(QStringLiteral("progress"), {{QStringLiteral("index"), number(position)},
                                      {QStringLiteral("percent"), number(percent)}});
}

void JsonFormatter::fileEnded(int position, const FileOutcome &outcome)
{
    const bool converted = outcome.kind == FileOutcome::Converted;
    line(
        QStringLiteral("end"),
        {{QStringLiteral("index"), number(position)},
         {QStringLiteral("input"), quoted(m_engine.file(position).label())},
         {QStringLiteral("outcome"), quoted(outcomeName(outcome.kind))},
         {QStringLiteral("output"), quoted(outcome.output)},
         {QStringLiteral("reason"), quoted(converted ? QString() : BatchReport::reasonOf(outcome))},
         {QStringLiteral("left_out"), quoted(converted ? outcome.reason : QString())},
         {QStringLiteral("update"), quoted(m_engine.decisionOf(position))}});
}

void JsonFormatter::warn(const QString &text)
{
    line(QStringLiteral("warning"), {{QStringLiteral("text"), quoted(text)}});
}

void JsonFormatter::finished(const BatchReport &report)
{
    QStringList problems;
    for (const QString &problem : report.problems())
        problems.append(quoted(problem));
    const qsizetype notConverted = report.notConverted().size();
    const qsizetype skipped = report.skipped().size();
    line(QStringLiteral("summary"),
         {{QStringLiteral("total"), number(report.total())},
          {QStringLiteral("converted"), number(report.total() - notConverted - skipped)},
          {QStringLiteral("skipped"), number(skipped)},
          {QStringLiteral("not_converted"), list(report.notConverted())},
          {QStringLiteral("left_out"), list(report.notes())},
          {QStringLiteral("updated"), list(report.updated())},
          {QStringLiteral("pruned"), list(report.pruned())},
          {QStringLiteral("problems"), u'[' + problems.join(u',') + u']'},
          {QStringLiteral("interrupted"),
           report.interrupted() ? QStringLiteral("true") : QStringLiteral("false")},
          {QStringLiteral("exit_status"), number(report.exitStatus(delivered()))}});
}

bool JsonFormatter::delivered() const
{
    return !m_output.lost(ConsoleOutput::Out) && !m_output.lost(ConsoleOutput::Error);
}
