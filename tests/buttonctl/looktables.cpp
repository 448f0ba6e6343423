#include "tests/buttonctl/looktables.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <optional>

namespace buttontest {

namespace {

using Row = std::array<std::optional<quint32>, 3>; // one colour per style, none where not drawn

// "0xFBFCFC (252,252,251)" as its value, once the value and the triple agree.
std::optional<quint32> colour(const QString &cell, QString *problem)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^0x([0-9A-F]{6}) \((\d+),(\d+),(\d+)\)$)"));
    const QRegularExpressionMatch m = form.match(cell);
    if (!m.hasMatch()) {
        if (cell != QLatin1String("not drawn"))
            *problem += QStringLiteral("unreadable colour '%1'\n").arg(cell);
        return std::nullopt;
    }
    const quint32 value = m.captured(1).toUInt(nullptr, 16);
    const quint32 triple =
        m.captured(2).toUInt() | (m.captured(3).toUInt() << 8) | (m.captured(4).toUInt() << 16);
    if (value != triple)
        *problem += QStringLiteral("%1 is not its own (R,G,B)\n").arg(cell);
    return value;
}

// A coordinate of the frame table: a number, or W or H less a number.
int coordinate(const QString &term, int w, int h)
{
    const QString t = term.trimmed();
    if (t.startsWith(QLatin1Char('W')) || t.startsWith(QLatin1Char('H')))
        return (t.startsWith(QLatin1Char('W')) ? w : h) - t.mid(2).toInt();
    return t.toInt();
}

void readFrameRow(const QStringList &cells, LookTables *tables)
{
    QString ends = cells[3] + QLatin1Char(',') + cells[4];
    ends.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
    tables->lineNames << cells[2];
    tables->lineEnds << ends;
}

QString fillStyles(const QHash<QString, Row> &rows, LookTables *tables)
{
    QString problem;
    auto at = [&](const QString &element, int style) -> quint32 {
        const std::optional<quint32> value = rows.value(element)[size_t(style)];
        if (!value)
            problem +=
                QStringLiteral("no colour for '%1' in style %2\n").arg(element).arg(style + 1);
        return value.value_or(0);
    };
    for (int s = 0; s < 3; ++s) {
        Expected &e = tables->styles[s];
        e = {at(QStringLiteral("Background top"), s),
             at(QStringLiteral("Background bottom"), s),
             at(QStringLiteral("Border"), s),
             {},
             {},
             at(QStringLiteral("Pressed: background top"), s),
             at(QStringLiteral("Pressed: background bottom"), s),
             {},
             0};
        for (int i = 0; i < std::min<int>(8, tables->lineNames.size()); ++i) {
            const QString ring = tables->lineNames[i];
            e.hover[i] = at(QStringLiteral("Hover: ") + ring, s);
            e.focus[i] = at(QStringLiteral("Focus: ") + ring, s);
            const std::optional<quint32> pressed =
                rows.value(QStringLiteral("Pressed: ") + ring)[size_t(s)];
            if (pressed && e.pressedLines == i)
                e.pressed[e.pressedLines++] = *pressed;
            else if (pressed)
                problem += QStringLiteral("style %1 draws a pressed ring after one it leaves out\n")
                               .arg(s + 1);
        }
        if (at(QStringLiteral("Pressed: border"), s) != e.border)
            problem += QStringLiteral("style %1 has a pressed border of its own\n").arg(s + 1);
    }
    return problem;
}

} // namespace

QLine LookTables::line(int i, int w, int h) const
{
    const QStringList v = lineEnds.value(i).split(QLatin1Char(','));
    return QLine(coordinate(v.value(0), w, h), coordinate(v.value(1), w, h),
                 coordinate(v.value(2), w, h), coordinate(v.value(3), w, h));
}

QString readLookTables(const QString &path, LookTables *tables)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    QString problem;
    QHash<QString, Row> rows;
    const QString text = QString::fromUtf8(file.readAll()).replace(QChar(0x2212), QLatin1Char('-'));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        QStringList cells = line.split(QLatin1Char('|'));
        if (cells.size() < 4)
            continue;
        for (QString &cell : cells)
            cell = cell.trimmed();
        if (cells[1].startsWith(QLatin1Char('-')) || cells[1] == QLatin1String("#") ||
            cells[1] == QLatin1String("Element"))
            continue; // a table's head
        if (cells.size() == 6 && cells[1].toInt() == tables->lineNames.size() + 1)
            readFrameRow(cells, tables);
        else if (cells[1].startsWith(QLatin1String("Disabled: ")))
            rows[cells[1]] = {colour(cells[2], &problem)};
        else if (cells.size() == 6)
            rows[cells[1]] = {colour(cells[2], &problem), colour(cells[3], &problem),
                              colour(cells[4], &problem)};
    }
    if (tables->lineNames.size() != 8)
        problem += QStringLiteral("%1 frame lines, not 8\n").arg(tables->lineNames.size());
    tables->disabledBack = rows.value(QStringLiteral("Disabled: background"))[0].value_or(0);
    tables->disabledBorder = rows.value(QStringLiteral("Disabled: border"))[0].value_or(0);
    tables->disabledCaption = rows.value(QStringLiteral("Disabled: caption"))[0].value_or(0);
    return problem + fillStyles(rows, tables);
}

} // namespace buttontest
