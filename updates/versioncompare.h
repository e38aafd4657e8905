#pragma once

#include <QByteArray>

// Compares two dotted version strings component by component: 1 when a is greater, -1 when b
// is, 0 when equal. Every byte of a component is folded in as a digit, and the arithmetic is
// 32-bit and wraps, so "1.0b" reads as 1.50 and "2.0" equals "2".
int compareVersions(const QByteArray &a, const QByteArray &b);
