#pragma once
// Readable failure messages for Qt value types in GoogleTest assertions.
#include <QRect>
#include <QString>
#include <ostream>

inline void PrintTo(const QRect& R, std::ostream* Out) {
  *Out << "QRect(" << R.x() << ", " << R.y() << ", " << R.width() << ", " << R.height() << ")";
}
inline void PrintTo(const QSize& S, std::ostream* Out) { *Out << "QSize(" << S.width() << ", " << S.height() << ")"; }
inline void PrintTo(const QString& S, std::ostream* Out) { *Out << '"' << S.toStdString() << '"'; }
