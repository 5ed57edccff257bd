// The text of a PDF file as pdftotext reads it (-layout), for the printing tests.
#pragma once

#include <QProcess>
#include <QString>

inline QString pdfText(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    if (!p.waitForFinished(30000)) return QStringLiteral("<pdftotext did not finish>");
    return QString::fromUtf8(p.readAllStandardOutput());
}
