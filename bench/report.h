#pragma once

#include <QList>
#include <QString>
#include <QStringList>

double median(QList<double> values);

// The plain table the bench prints: figure | measured | floor | ratio | goal | met?
class ReportTable
{
public:
    void addRow(const QStringList &cells) { m_rows << cells; }
    QString text() const;

private:
    QList<QStringList> m_rows;
};

QString milliseconds(double value);
QString megabytes(double kilobytes);
QString ratioText(double ratio);
