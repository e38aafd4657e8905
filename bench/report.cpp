#include "report.h"

#include <algorithm>

double median(QList<double> values)
{
    if (values.isEmpty())
        return qQNaN();
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle)
                             : (values.at(middle - 1) + values.at(middle)) / 2.0;
}

QString ReportTable::text() const
{
    const QStringList header{QStringLiteral("figure"), QStringLiteral("measured"),
                             QStringLiteral("floor"),  QStringLiteral("ratio"),
                             QStringLiteral("goal"),   QStringLiteral("met?")};
    QList<QStringList> rows{header};
    rows << m_rows;
    QList<int> widths;
    for (const QStringList &row : qAsConst(rows)) {
        for (int column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths << 0;
            widths[column] = qMax(widths.at(column), row.at(column).size());
        }
    }
    QString text;
    const auto line = [&](const QStringList &row) {
        QStringList cells;
        for (int column = 0; column < row.size(); ++column) {
            // Figures left, numbers right.
            cells << (column == 0 || column >= 4
                          ? row.at(column).leftJustified(widths.at(column))
                          : row.at(column).rightJustified(widths.at(column)));
        }
        QString joined = cells.join(QLatin1String(" | "));
        while (joined.endsWith(QLatin1Char(' ')))
            joined.chop(1);
        text += joined + QLatin1Char('\n');
    };
    line(header);
    QStringList rule;
    for (int width : qAsConst(widths))
        rule << QString(width, QLatin1Char('-'));
    text += rule.join(QLatin1String("-|-")) + QLatin1Char('\n');
    for (const QStringList &row : m_rows)
        line(row);
    return text;
}

QString milliseconds(double value)
{
    if (qIsNaN(value))
        return QStringLiteral("-");
    return QString::number(value, 'f', value < 10 ? 1 : 0) + QStringLiteral(" ms");
}

QString megabytes(double kilobytes)
{
    if (qIsNaN(kilobytes) || kilobytes < 0)
        return QStringLiteral("-");
    return QString::number(kilobytes / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

QString ratioText(double ratio)
{
    if (qIsNaN(ratio) || qIsInf(ratio))
        return QStringLiteral("-");
    return QString::number(ratio, 'f', 2) + QLatin1Char('x');
}
